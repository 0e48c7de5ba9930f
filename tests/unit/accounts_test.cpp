// The default account: the account manager's registry keys (per identity
// where there is one) and the account file in the local store folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "registry_scope.h"
#include "temp_folder.h"
#include "store/accounts.h"

using plume::test::ScopedRegistryKey;
using plume::test::ScopedRegistryValue;

namespace {

// Where the client keeps things.
const wchar_t kIdentities[] = L"Identities";
const wchar_t kMachineIam[] = L"SOFTWARE\\Microsoft\\Internet Account Manager";
const wchar_t kWmIam[] = L"Software\\Microsoft\\IAM";
const wchar_t kWindowsMail[] = L"Software\\Microsoft\\Windows Mail";
constexpr size_t kWideLimit = 2047, kAnsiLimit = 1023;

using plume::test::TempFolder;

std::string Xml(const std::string& body) { return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<MessageAccount>" + body + "</MessageAccount>"; }

std::unique_ptr<plume::WmAccountInfo> Read(const std::string& file, int* result) {
    auto info = std::make_unique<plume::WmAccountInfo>();
    memset(info.get(), 'x', sizeof *info);  // nothing left over from before
    *result = plume::ReadAccountFile(file.c_str(), *info);
    return info;
}

// Every field of the Windows Mail account ends within its limit.
bool Terminated(const plume::WmAccountInfo& info) {
    return wcsnlen(info.accountName, 2048) <= kWideLimit && wcsnlen(info.displayName, 2048) <= kWideLimit &&
           strnlen(info.emailAddress, 1024) <= kAnsiLimit;
}

// The seed of a fuzz test, printed: PLUME_ACCOUNTS_SEED repeats a run.
unsigned FuzzSeed(const char* what) {
    char given[32] = "";
    const unsigned seed = GetEnvironmentVariableA("PLUME_ACCOUNTS_SEED", given, sizeof given)
                              ? static_cast<unsigned>(strtoul(given, nullptr, 10))
                              : static_cast<unsigned>(GetTickCount());
    printf("%s seed %u\n", what, seed);
    return seed;
}

TEST(Accounts, OutlookExpressAccountWithAndWithoutIdentity) {
    ScopedRegistryValue lastUser(HKEY_CURRENT_USER, kIdentities, L"Last User ID");
    ScopedRegistryValue machineDefault(HKEY_CURRENT_USER, kMachineIam, L"Default Mail Account");
    ScopedRegistryKey machineAccount(HKEY_CURRENT_USER, std::wstring(kMachineIam) + L"\\Accounts\\plume-test-0001");
    ScopedRegistryKey identityAccount(
        HKEY_CURRENT_USER,
        L"Identities\\{plume-test-identity}\\Software\\Microsoft\\Internet Account Manager\\Accounts\\plume-test-0002");
    ScopedRegistryValue identityDefault(
        HKEY_CURRENT_USER, L"Identities\\{plume-test-identity}\\Software\\Microsoft\\Internet Account Manager",
        L"Default Mail Account");
    ASSERT_TRUE(machineDefault.SetString(L"plume-test-0001"));
    machineAccount.SetString("Account Name", "Machine account");
    identityAccount.SetString("Account Name", "Identity account");

    // No identity: the machine user's account manager.
    lastUser.Delete();
    plume::OeAccountSettings settings;
    ASSERT_EQ(1, plume::GetDefaultAccountSettings(settings));
    EXPECT_STREQ("plume-test-0001", settings.accountId);
    EXPECT_STREQ("Machine account", settings.accountName);

    // An identity without its own account manager key: still the machine user's.
    ASSERT_TRUE(lastUser.SetString(L"{plume-test-missing}"));
    ASSERT_EQ(1, plume::GetDefaultAccountSettings(settings));
    EXPECT_STREQ("Machine account", settings.accountName);

    // The identity's own key wins.
    ASSERT_TRUE(lastUser.SetString(L"{plume-test-identity}"));
    ASSERT_TRUE(identityDefault.SetString(L"plume-test-0002"));
    ASSERT_EQ(1, plume::GetDefaultAccountSettings(settings));
    EXPECT_STREQ("plume-test-0002", settings.accountId);
    EXPECT_STREQ("Identity account", settings.accountName);

    // A default naming no account fails.
    ASSERT_TRUE(identityDefault.SetString(L"plume-test-none"));
    EXPECT_EQ(0, plume::GetDefaultAccountSettings(settings));
}

TEST(Accounts, WindowsMailAccountFileUnderTheStoreRoot) {
    TempFolder temp("plume_accounts");
    const std::string root = temp.Dir("store");
    temp.Dir("store\\Local Folders");
    temp.Write("store\\Local Folders\\account{PLUME}.oeaccount",
               Xml("<Account_Name type=\"SZ\">Home mail</Account_Name>"
                   "<SMTP_Display_Name type=\"SZ\">Ann Example</SMTP_Display_Name>"
                   "<SMTP_Email_Address type=\"SZ\">ann@example.org</SMTP_Email_Address>"));
    ScopedRegistryValue fileValue(HKEY_CURRENT_USER, kWmIam, L"Default Mail Account");
    ScopedRegistryValue rootValue(HKEY_CURRENT_USER, kWindowsMail, L"Store Root");
    ScopedRegistryValue variable(HKEY_CURRENT_USER, L"Environment", L"PLUME_TEST_STORE");
    ASSERT_TRUE(fileValue.SetString(L"account{PLUME}.oeaccount"));

    auto check = [&](const char* how) {
        auto info = std::make_unique<plume::WmAccountInfo>();
        ASSERT_EQ(1, plume::GetWMAccountInfo(*info)) << how;
        EXPECT_STREQ("account{PLUME}.oeaccount", info->accountFile) << how;
        EXPECT_STREQ(L"Home mail", info->accountName) << how;
        EXPECT_STREQ(L"Ann Example", info->displayName) << how;
        EXPECT_STREQ("ann@example.org", info->emailAddress) << how;
    };
    ASSERT_TRUE(rootValue.SetString(std::wstring(root.begin(), root.end())));
    check("REG_SZ");
    // An expandable root is expanded before the folder is appended.
    SetEnvironmentVariableA("PLUME_TEST_STORE", temp.path().c_str());
    ASSERT_TRUE(rootValue.SetString(L"%PLUME_TEST_STORE%store\\", REG_EXPAND_SZ));
    check("REG_EXPAND_SZ");
    // The same text as a plain string is not expanded: no such folder.
    ASSERT_TRUE(rootValue.SetString(L"%PLUME_TEST_STORE%store\\"));
    auto info = std::make_unique<plume::WmAccountInfo>();
    EXPECT_EQ(0, plume::GetWMAccountInfo(*info));
    SetEnvironmentVariableA("PLUME_TEST_STORE", nullptr);
}

TEST(Accounts, AccountFileFieldsFollowTheElements) {
    TempFolder temp("plume_accounts");
    int result = 0;
    // Text inside a child element of Account_Name counts, up to the first end tag.
    auto info = Read(temp.Write("a.xml", Xml("<Account_Name><b>inner</b>after</Account_Name>")), &result);
    EXPECT_EQ(1, result);
    EXPECT_STREQ(L"inner", info->accountName);
    // A missing address still succeeds, and missing fields are empty.
    info = Read(temp.Write("a.xml", Xml("<SMTP_Display_Name>Bob</SMTP_Display_Name>")), &result);
    EXPECT_EQ(1, result);
    EXPECT_STREQ(L"Bob", info->displayName);
    EXPECT_STREQ(L"", info->accountName);
    EXPECT_STREQ("", info->emailAddress);
    // A repeated element: the later text wins. Names are whole and case-sensitive.
    info = Read(temp.Write("a.xml", Xml("<SMTP_Email_Address>one@x</SMTP_Email_Address>"
                                        "<smtp_email_address>lower@x</smtp_email_address>"
                                        "<SMTP_Email_AddressX>long@x</SMTP_Email_AddressX>"
                                        "<SMTP_Email_Address>two@x</SMTP_Email_Address>")),
                &result);
    EXPECT_STREQ("two@x", info->emailAddress);
    // Text after an end tag belongs to no field.
    info = Read(temp.Write("a.xml", Xml("<Account_Name>n</Account_Name>stray")), &result);
    EXPECT_STREQ(L"n", info->accountName);
    // Files that end inside or right after the declaration (Wine's reader
    // stops the process on them).
    for (const char* cut : {"<?xm", "<?xml version=\"1.0\"?>", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n", ""}) {
        info = Read(temp.Write("a.xml", cut), &result);
        EXPECT_EQ(1, result) << cut;
        EXPECT_STREQ(L"", info->accountName) << cut;
    }
    // A file that is not there.
    info = Read(temp.path() + "missing.xml", &result);
    EXPECT_EQ(0, result);
}

TEST(Accounts, OverLongTextsAreCutAtCharacterBoundaries) {
    TempFolder temp("plume_accounts");
    int result = 0;
    const std::string huge(100000, 'n');  // far past both limits
    auto info = Read(temp.Write("a.xml", Xml("<Account_Name>" + huge + "</Account_Name><SMTP_Email_Address>" + huge +
                                             "</SMTP_Email_Address>")),
                     &result);
    EXPECT_EQ(1, result);
    EXPECT_EQ(kWideLimit, wcslen(info->accountName));
    EXPECT_EQ(kAnsiLimit, strlen(info->emailAddress));

    // A surrogate pair that does not fit whole is left out whole.
    std::wstring wide(kWideLimit - 1, L'a');
    wide += L"\xD83D\xDE00";
    wchar_t field[2048];
    plume::CopyWideField(field, 2048, wide.c_str());
    EXPECT_EQ(kWideLimit - 1, wcslen(field));
    wide.erase(0, 1);  // now it fits
    plume::CopyWideField(field, 2048, wide.c_str());
    EXPECT_EQ(kWideLimit, wcslen(field));
    EXPECT_EQ(0xDE00, field[kWideLimit - 1]);

    // The 8-bit field keeps whole characters of the code page only.
    char ansi[1024];
    std::wstring text(kAnsiLimit - 1, L'a');
    text += L"\x00E9\x00E9";
    plume::CopyAnsiField(ansi, sizeof ansi, text.c_str());
    EXPECT_EQ(kAnsiLimit, strlen(ansi));
    char expected[8] = {};
    WideCharToMultiByte(CP_ACP, 0, L"\x00E9", 1, expected, sizeof expected, nullptr, nullptr);
    if (strlen(expected) == 1) EXPECT_EQ(expected[0], ansi[kAnsiLimit - 1]);
    else EXPECT_EQ('a', ansi[kAnsiLimit - 1]);  // a two-byte character that does not fit stays out
}

// Damaged, truncated, mis-encoded and random files: the reader never
// crashes, and every field stays terminated within its limit.
TEST(Accounts, DamagedAccountFilesNeverBreakTheLookup) {
    const unsigned seed = FuzzSeed("account file");
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    TempFolder temp("plume_accounts");
    const std::string good = Xml("<Account_Name type=\"SZ\">Home <i>mail</i></Account_Name>"
                                 "<SMTP_Display_Name>Ann \xC3\xA9</SMTP_Display_Name>"
                                 "<SMTP_Email_Address>ann@example.org</SMTP_Email_Address>");
    const char* const prefixes[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "<?xml version=\"1.0\" encoding=\"UTF-16\"?>",
                                    "<?xml version=\"1.0\" encoding=\"bogus\"?>", "<!DOCTYPE a [<!ENTITY e \"x\">]>"};
    // Each kind of damage takes every fifth round; the seed varies the rest
    // from run to run.
    constexpr int kRounds = 1000;
    int succeeded = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::string bytes = good;
        switch (round % 5) {
        case 0: bytes.resize(random() % bytes.size()); break;  // truncated
        case 1:
            for (int i = 0; i < 1 + static_cast<int>(random() % 8); ++i) bytes[random() % bytes.size()] = char(random());
            break;
        case 2: bytes = prefixes[random() % 6] + bytes.substr(random() % 40); break;
        case 3: {
            bytes.assign(random() % 512, '\0');
            for (char& c : bytes) c = char(random());
            break;
        }
        case 4:  // deep nesting and repetition
            bytes.clear();
            for (unsigned i = random() % 300; i; --i) bytes += "<Account_Name>";
            bytes = Xml(bytes + "t");
            break;
        }
        int result = -1;
        auto info = Read(temp.Write("fuzz.xml", bytes), &result);
        ASSERT_TRUE(result == 0 || result == 1) << "round " << round;
        succeeded += result;
        ASSERT_TRUE(Terminated(*info)) << "round " << round;
    }
    EXPECT_EQ(kRounds, succeeded) << "every file that opens is read";
}

// Damaged registry values of both lookups: missing, empty, over-long, of the
// wrong type, without a terminator, with NULs inside, random bytes, and
// environment references that expand past any buffer. Both answer 0 or 1 and
// every field stays terminated within its limit.
TEST(Accounts, DamagedRegistryValuesNeverBreakTheLookup) {
    const unsigned seed = FuzzSeed("account registry");
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const std::wstring identity = L"Identities\\{plume-fuzz-identity}\\Software\\Microsoft\\Internet Account Manager";
    struct Place {
        HKEY root;
        std::wstring path;
        const wchar_t* name;
    };
    const Place places[] = {{HKEY_CURRENT_USER, kIdentities, L"Last User ID"},
                            {HKEY_CURRENT_USER, kMachineIam, L"Default Mail Account"},
                            {HKEY_CURRENT_USER, identity, L"Default Mail Account"},
                            {HKEY_CURRENT_USER, std::wstring(kMachineIam) + L"\\Accounts\\plume-fuzz", L"Account Name"},
                            {HKEY_CURRENT_USER, kWmIam, L"Default Mail Account"},
                            {HKEY_CURRENT_USER, kWindowsMail, L"Store Root"}};
    ScopedRegistryKey account(HKEY_CURRENT_USER, std::wstring(kMachineIam) + L"\\Accounts\\plume-fuzz");
    ScopedRegistryKey identityKey(HKEY_CURRENT_USER, identity);
    std::vector<std::unique_ptr<ScopedRegistryValue>> saved;
    for (const Place& p : places) saved.push_back(std::make_unique<ScopedRegistryValue>(p.root, p.path.c_str(), p.name));

    // Values that name what exists, and damaged ones.
    const std::vector<std::wstring> meaningful = {L"{plume-fuzz-identity}", L"plume-fuzz", L"account.oeaccount",
                                                  L"%TEMP%\\", L"%PLUME_FUZZ_LONG%%PLUME_FUZZ_LONG%"};
    SetEnvironmentVariableW(L"PLUME_FUZZ_LONG", std::wstring(1500, L'L').c_str());
    auto value = [&](std::vector<BYTE>* bytes, DWORD* type) {
        const DWORD types[] = {REG_SZ, REG_EXPAND_SZ, REG_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ};
        *type = types[random() % 6];
        std::wstring text;
        switch (random() % 6) {
        case 0: text = meaningful[random() % meaningful.size()]; break;
        case 1: text.assign(random() % 3000, static_cast<wchar_t>(L'a' + random() % 26)); break;  // over-long
        case 2: text = std::wstring(L"plume\0fuzz", 10); break;                                    // NUL inside
        case 3: for (unsigned n = random() % 64; n; --n) text += static_cast<wchar_t>(random()); break;
        case 4: text = L"..\\..\\..\\" + meaningful[random() % meaningful.size()]; break;
        default: break;  // empty
        }
        const BYTE* raw = reinterpret_cast<const BYTE*>(text.data());
        bytes->assign(raw, raw + text.size() * sizeof(wchar_t));
        if (random() % 3) bytes->insert(bytes->end(), 2, 0);  // terminated, or not
        if (random() % 7 == 0) bytes->resize(bytes->size() ? random() % bytes->size() : 0);  // truncated
    };
    // Every round damages all six values at once, but every fiftieth names
    // the account that exists, plainly, among damaged others.
    int found = 0, planted = 0;
    for (int round = 0; round < 500; ++round) {
        if (round % 50 == 0) {
            ++planted;
            RegDeleteKeyValueW(places[0].root, places[0].path.c_str(), places[0].name);
            RegSetKeyValueW(places[1].root, places[1].path.c_str(), places[1].name, REG_SZ, L"plume-fuzz",
                            sizeof L"plume-fuzz");
            RegSetKeyValueW(places[3].root, places[3].path.c_str(), places[3].name, REG_SZ, L"Fuzz", sizeof L"Fuzz");
        }
        for (const Place& p : places) {
            if (round % 50 == 0 && (&p == &places[0] || &p == &places[1] || &p == &places[3])) continue;
            if (random() % 5 == 0) {
                RegDeleteKeyValueW(p.root, p.path.c_str(), p.name);  // missing
                continue;
            }
            std::vector<BYTE> bytes;
            DWORD type = REG_SZ;
            value(&bytes, &type);
            RegSetKeyValueW(p.root, p.path.c_str(), p.name, type, bytes.data(), static_cast<DWORD>(bytes.size()));
        }
        plume::OeAccountSettings oe;
        memset(&oe, 'x', sizeof oe);
        const int oeResult = plume::GetDefaultAccountSettings(oe);
        ASSERT_TRUE(oeResult == 0 || oeResult == 1) << "round " << round;
        ASSERT_LE(strnlen(oe.accountId, sizeof oe.accountId), kAnsiLimit) << "round " << round;
        ASSERT_LE(strnlen(oe.accountName, sizeof oe.accountName), kAnsiLimit) << "round " << round;
        auto wm = std::make_unique<plume::WmAccountInfo>();
        memset(wm.get(), 'x', sizeof *wm);
        const int wmResult = plume::GetWMAccountInfo(*wm);
        ASSERT_TRUE(wmResult == 0 || wmResult == 1) << "round " << round;
        ASSERT_TRUE(Terminated(*wm) && strnlen(wm->accountFile, sizeof wm->accountFile) <= kAnsiLimit) << "round " << round;
        found += oeResult;
    }
    SetEnvironmentVariableW(L"PLUME_FUZZ_LONG", nullptr);
    EXPECT_GE(found, planted) << "rounds that name the account that exists find it";
}

}  // namespace
