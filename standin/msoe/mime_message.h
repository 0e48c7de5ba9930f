// MIME message objects of the store: a copy of one stored message, taken
// when the message is opened, whose root body properties can be read and
// written. Saving the object into a folder inserts a new message with its
// contents (store_component.cpp). Positions in the table: 33 get-body-property
// (body, name, 0, out PROPVARIANT), 34 set-body-property (body, name, 0,
// const PROPVARIANT*); every other position answers E_NOTIMPL.
#pragma once

#include <objbase.h>

#include <cstdint>
#include <string>

#include "store.h"

namespace msoe {

extern const IID IID_MimeMessage;

// The root body handle.
constexpr uintptr_t kRootBody = static_cast<uintptr_t>(-1);
// Property ids are passed in place of a name pointer; every value below this is an id.
constexpr uintptr_t kFirstPropertyName = 0x10000;
// The property id that holds the account id.
constexpr uintptr_t kAccountIdProperty = 63;
constexpr char kAccountNameProperty[] = "att:athena-account-name";
// Get-body-property for a property the message does not have.
constexpr HRESULT kPropertyNotFound = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0205);

// A property named by id (`name` empty) or by name.
struct PropertyKey {
    uintptr_t id = 0;
    std::string name;
    // From the argument a caller passes: a small value is an id, else a string.
    static PropertyKey FromArgument(const void* nameOrId);
    // From text: digits give an id ("63"), anything else a name.
    static PropertyKey FromText(const std::wstring& text);
};

// The property's value on the message; false when it has none.
bool GetBodyProperty(const Message& message, const PropertyKey& key, std::string* value);
void SetBodyProperty(Message& message, const PropertyKey& key, const std::string& value);

// A new MIME object holding a copy of `message`; one reference.
IUnknown* NewMimeMessage(const Message& message);
// The contents of a MIME object of this store; false for any other object.
bool MimeMessageContent(IUnknown* object, Message* out);
long LiveMimeMessages();

}  // namespace msoe
