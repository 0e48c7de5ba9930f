#include "server/apartment_holders.h"

#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

#include "log.h"
#include "server/module.h"
#include "proc_address.h"
#include "unique_any.h"

namespace plume {
namespace {

// SystemHandleInformation: every open handle of every process.
constexpr SYSTEM_INFORMATION_CLASS kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
struct HandleEntry {
    ULONG process;
    UCHAR type;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

// This process's handles; none where the system cannot list them.
std::vector<HANDLE> OwnHandles() {
    std::vector<HANDLE> own;
    using QueryFn = NTSTATUS(WINAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    static const auto querySystem =
        GetProcAs<QueryFn>(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    if (!querySystem) return own;
    std::vector<char> buffer(1 << 20);
    for (int tries = 0; tries < 4; ++tries) {
        ULONG needed = 0;
        const NTSTATUS status = querySystem(kSystemHandleInformation, buffer.data(),
                                                         static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status != 0) return own;
        const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
        const ULONG self = GetCurrentProcessId();
        for (ULONG i = 0; i < table->count; ++i)
            if (table->entries[i].process == self)
                own.push_back(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(table->entries[i].handle)));
        return own;
    }
    return own;
}

// The processes at the other end of the connected server ends of `pipeName`.
std::vector<DWORD> PipeClients(const std::wstring& pipeName) {
    std::vector<DWORD> clients;
    for (HANDLE handle : OwnHandles()) {
        DWORD flags = 0;
        if (GetFileType(handle) != FILE_TYPE_PIPE || !GetNamedPipeInfo(handle, &flags, nullptr, nullptr, nullptr) ||
            !(flags & PIPE_SERVER_END))
            continue;
        alignas(FILE_NAME_INFO) char name[sizeof(FILE_NAME_INFO) + 512 * sizeof(wchar_t)] = {};
        auto* info = reinterpret_cast<FILE_NAME_INFO*>(name);
        if (!GetFileInformationByHandleEx(handle, FileNameInfo, info, sizeof name - sizeof(wchar_t))) continue;
        if (std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t)) != pipeName) continue;
        ULONG client = 0;
        if (!GetNamedPipeClientProcessId(handle, &client) || client == 0) continue;
        if (std::find(clients.begin(), clients.end(), client) == clients.end()) clients.push_back(client);
    }
    return clients;
}

// True when `process` has ended (or cannot be seen any more).
bool IsGone(DWORD process) {
    unique_handle handle(OpenProcess(SYNCHRONIZE, FALSE, process));
    return !handle || WaitForSingleObject(handle.get(), 0) == WAIT_OBJECT_0;
}

bool Answers(DWORD process, DWORD probeMs) {
    // Another apartment of this process (a plug-in's thread) is not probed:
    // it goes with the client, and is given the grace period.
    if (process == GetCurrentProcessId()) return true;
    if (IsGone(process)) return false;
    std::vector<HWND> windows;
    for (HWND window = nullptr; (window = FindWindowExW(HWND_MESSAGE, window, L"OleMainThreadWndClass", nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process) windows.push_back(window);
    }
    if (windows.empty()) return true;  // no apartment window: nothing says it hangs
    for (HWND window : windows) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, probeMs, &result)) return true;
    }
    return false;
}

}  // namespace

bool AnyConnectedClientAnswers(DWORD apartmentThread, DWORD probeMs) {
    const ULONGLONG apartment = (static_cast<ULONGLONG>(GetCurrentProcessId()) << 32) | apartmentThread;
    wchar_t pipe[64];
    swprintf(pipe, 64, L"\\lrpc\\pipe\\OLE_%016llx", apartment);
    for (DWORD client : PipeClients(pipe))
        if (Answers(client, probeMs)) return true;
    return false;
}

struct ConnectedClientsWatch::State {
    DWORD apartmentThread;
    HMODULE module = nullptr;
    std::atomic<bool> noneAnswers{false};
    std::atomic<bool> stop{false};
    unique_handle wake{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

ConnectedClientsWatch::ConnectedClientsWatch(DWORD apartmentThread) : state_(std::make_shared<State>()) {
    state_->apartmentThread = apartmentThread;
    // The thread holds its own reference to the state and to this module,
    // so that the library may be unloaded while a probe is still waiting.
    auto* held = new std::shared_ptr<State>(state_);
    const HMODULE module = HoldLibrary();
    (*held)->module = module;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* param) -> DWORD {
            HMODULE module;
            {
                std::unique_ptr<std::shared_ptr<State>> state(static_cast<std::shared_ptr<State>*>(param));
                State& s = **state;
                module = s.module;
                while (!s.stop) {
                    const bool none = !AnyConnectedClientAnswers(s.apartmentThread);
                    if (none && !s.noneAnswers) Log(0, "ShutdownServer: no client that holds objects answers.\n");
                    s.noneAnswers = none;
                    WaitForSingleObject(s.wake.get(), 200);
                }
            }
            if (module) FreeLibraryAndExitThread(module, 0);
            return 0;
        },
        held, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    } else {
        delete held;
        if (module) FreeLibrary(module);
    }
}

ConnectedClientsWatch::~ConnectedClientsWatch() {
    state_->stop = true;
    SetEvent(state_->wake.get());
}

bool ConnectedClientsWatch::NoneAnswers() const { return state_->noneAnswers; }

}  // namespace plume
