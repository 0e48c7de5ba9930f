// The list of copies parked in the holding folder, kept in the user's hive
// beside the in-memory queue so that a close or a crash of the client loses
// none of the sends it accepted: the next start moves what is listed to the
// Outbox. One key per client kind, a value per copy ("<folder>.<message>",
// its data the time it was parked, which orders the list); the key, and the
// keys above it that it made, go with the last entry.
#pragma once

#include <windows.h>

#include <vector>

namespace plume {

struct ParkedCopy {
    LONG folderId;
    LONG msgId;
};

void RememberParkedCopy(const ParkedCopy& copy);
void ForgetParkedCopy(const ParkedCopy& copy);
// The copies listed for the running client kind, oldest first.
std::vector<ParkedCopy> ParkedCopiesOfEarlierRuns();

}  // namespace plume
