// Which client this process is: Windows Mail when the system reports major
// version 6, Outlook Express otherwise.
#pragma once

namespace msoe {

enum class Variant { OutlookExpress, WindowsMail };

// Asked once per process.
Variant CurrentVariant();
inline bool IsWindowsMail() { return CurrentVariant() == Variant::WindowsMail; }
// "Outlook Express" or "Windows Mail".
const wchar_t* ProductName(Variant variant);

}  // namespace msoe
