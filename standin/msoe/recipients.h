// Resolved recipients in the envelope of the Outlook Express variant: each is
// an embedded object in the rich-edit field whose data object gives the
// recipient's text as CF_UNICODETEXT.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>

namespace msoe {

// Inserts a recipient object for `text` at the selection of a rich-edit control.
HRESULT InsertRecipientObject(HWND edit, const std::wstring& text);
// The text of a recipient object; empty for any other object.
std::wstring RecipientObjectText(IOleObject* object);
// Replaces the field's text by recipient objects, one per address, separated
// by "; ".
void SetResolvedRecipients(HWND edit, const std::wstring& recipients);
// Turns typed text into recipient objects (Check Names).
void ResolveRecipients(HWND edit);
long LiveRecipientObjects();
// Makes EM_GETTEXTEX of the control give U+FFFC for each embedded object, as
// the system's rich-edit control does (Wine's gives a space).
void UseObjectCharacter(HWND edit);

}  // namespace msoe
