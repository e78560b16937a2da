// The resources of the built Update.exe, read back from the file and taken
// apart field by field.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

constexpr WORD kJapanese = 0x0411;

// Text of this source (code page 932) as UTF-16.
std::wstring Wide(const char* text) {
    int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    std::wstring w(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, &w[0], n);
    w.resize(n > 0 ? n - 1 : 0);
    return w;
}

class ProgramFile : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        module_ = LoadLibraryExA(ts::BuildFile("Update/Update.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite() {
        if (module_ != nullptr)
            FreeLibrary(module_);
        module_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(module_, nullptr) << "Update.exe cannot be loaded"; }

    // The bytes of a resource in Japanese; empty when there is none.
    static std::string Bytes(LPCSTR type, LPCSTR name) {
        HRSRC found = FindResourceExA(module_, type, name, kJapanese);
        if (found == nullptr)
            return std::string();
        const char* data = static_cast<const char*>(LockResource(LoadResource(module_, found)));
        return data != nullptr ? std::string(data, SizeofResource(module_, found)) : std::string();
    }
    static std::string Bytes(LPCSTR type, int id) { return Bytes(type, MAKEINTRESOURCEA(id)); }

    static HMODULE module_;
};
HMODULE ProgramFile::module_ = nullptr;

// A little-endian reader over a resource's bytes.
class Reader {
  public:
    explicit Reader(const std::string& data) : data_(data) {}
    bool Ok() const { return ok_; }
    size_t Offset() const { return at_; }
    WORD Word() {
        WORD w = 0;
        Take(&w, sizeof w);
        return w;
    }
    DWORD Dword() {
        DWORD d = 0;
        Take(&d, sizeof d);
        return d;
    }
    BYTE Byte() {
        BYTE b = 0;
        Take(&b, sizeof b);
        return b;
    }
    short Short() { return static_cast<short>(Word()); }
    std::wstring String() {
        std::wstring s;
        for (WORD c = Word(); ok_ && c != 0; c = Word())
            s.push_back(static_cast<wchar_t>(c));
        return s;
    }
    // A name or ordinal field: "#n" for an ordinal, the text otherwise.
    std::wstring NameOrOrdinal() {
        WORD first = Word();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Word());
        if (first == 0)
            return std::wstring();
        std::wstring s(1, static_cast<wchar_t>(first));
        return s + String();
    }
    void AlignDword() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }
    void Skip(size_t n) {
        if (at_ + n > data_.size())
            ok_ = false;
        else
            at_ += n;
    }

  private:
    void Take(void* out, size_t n) {
        if (at_ + n > data_.size()) {
            ok_ = false;
            return;
        }
        memcpy(out, data_.data() + at_, n);
        at_ += n;
    }
    const std::string& data_;
    size_t at_ = 0;
    bool ok_ = true;
};

struct Item {
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::wstring cls;
    std::wstring text;
    WORD extra = 0;
};

struct Template {
    bool extended = false;
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu;
    std::wstring cls;
    std::wstring caption;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::wstring face;
    std::vector<Item> items;
    bool ok = false;
};

Template ParseTemplate(const std::string& data) {
    Template t;
    Reader r(data);
    WORD count = 0;
    if (data.size() >= 4 && data[0] == 1 && data[1] == 0 && data[2] == '\xff' &&
        data[3] == '\xff') {
        t.extended = true;
        r.Skip(4);
        t.helpId = r.Dword();
        t.exStyle = r.Dword();
        t.style = r.Dword();
    } else {
        t.style = r.Dword();
        t.exStyle = r.Dword();
    }
    count = r.Word();
    t.x = r.Short();
    t.y = r.Short();
    t.cx = r.Short();
    t.cy = r.Short();
    t.menu = r.NameOrOrdinal();
    t.cls = r.NameOrOrdinal();
    t.caption = r.String();
    if (t.style & DS_SETFONT) {
        t.pointSize = r.Word();
        if (t.extended) {
            t.weight = r.Word();
            t.italic = r.Byte();
            t.charset = r.Byte();
        }
        t.face = r.String();
    }
    for (WORD i = 0; i < count && r.Ok(); ++i) {
        r.AlignDword();
        Item item;
        if (t.extended) {
            item.helpId = r.Dword();
            item.exStyle = r.Dword();
            item.style = r.Dword();
        } else {
            item.style = r.Dword();
            item.exStyle = r.Dword();
        }
        item.x = r.Short();
        item.y = r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = t.extended ? r.Dword() : r.Word();
        item.cls = r.NameOrOrdinal();
        item.text = r.NameOrOrdinal();
        item.extra = r.Word();
        r.Skip(item.extra);
        t.items.push_back(item);
    }
    t.ok = r.Ok() && r.Offset() <= data.size() && data.size() - r.Offset() < 4;
    return t;
}

void ExpectItem(const Item& item, DWORD id, const wchar_t* cls, const std::wstring& text,
                DWORD style, short x, short y, short cx, short cy) {
    SCOPED_TRACE(testing::Message() << "control " << static_cast<int>(id));
    EXPECT_EQ(item.id, id);
    EXPECT_EQ(item.cls, cls);
    EXPECT_EQ(item.text, text);
    EXPECT_EQ(item.style, style) << std::hex << item.style;
    EXPECT_EQ(item.exStyle, 0u);
    EXPECT_EQ(item.helpId, 0u);
    EXPECT_EQ(item.x, x);
    EXPECT_EQ(item.y, y);
    EXPECT_EQ(item.cx, cx);
    EXPECT_EQ(item.cy, cy);
    EXPECT_EQ(item.extra, 0);
}

const wchar_t kButton[] = L"#128";
const wchar_t kStatic[] = L"#130";
const DWORD kChild = WS_CHILD | WS_VISIBLE;

// ---------------------------------------------------------------------------

TEST_F(ProgramFile, MainDialogTemplate) {
    Template t = ParseTemplate(Bytes(RT_DIALOG, 102));
    ASSERT_TRUE(t.ok);
    EXPECT_TRUE(t.extended);
    EXPECT_EQ(t.style, 0x90C800C0u) << std::hex << t.style;
    EXPECT_EQ(t.exStyle, 0x00040000u);
    EXPECT_EQ(t.helpId, 0u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 235);
    EXPECT_EQ(t.cy, 115);
    EXPECT_EQ(t.menu, L"");
    EXPECT_EQ(t.cls, L"");
    EXPECT_EQ(t.caption, Wide("TALMERO Pro Windows Update 支援機能更新"));
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.weight, 0);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.charset, 1);
    EXPECT_EQ(t.face, Wide("ＭＳ Ｐゴシック"));

    ASSERT_EQ(t.items.size(), 5u);
    ExpectItem(t.items[0], IDOK, kButton, Wide("実行"), kChild | WS_TABSTOP | BS_PUSHBUTTON, 115,
               90, 50, 14);
    ExpectItem(t.items[1], IDCANCEL, kButton, Wide("キャンセル"),
               kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 175, 90, 50, 14);
    ExpectItem(t.items[2], 1000, kStatic,
               Wide("Windows Update支援機能のクライアントソフトウェアを更新します。"),
               kChild | WS_GROUP | SS_LEFT, 10, 60, 193, 8);
    ExpectItem(t.items[3], 0xFFFFFFFF, kStatic,
               Wide("開始する場合は「実行」ボタンを選択してください。"),
               kChild | WS_GROUP | SS_LEFT, 10, 70, 143, 8);
    ExpectItem(t.items[4], 0xFFFFFFFF, kStatic, L"#129", kChild | SS_BITMAP, 0, 0, 20, 20);
}

TEST_F(ProgramFile, VersionBoxTemplate) {
    Template t = ParseTemplate(Bytes(RT_DIALOG, 100));
    ASSERT_TRUE(t.ok);
    EXPECT_FALSE(t.extended);
    EXPECT_EQ(t.style, 0x80C800C0u) << std::hex << t.style;
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 235);
    EXPECT_EQ(t.cy, 55);
    EXPECT_EQ(t.menu, L"");
    EXPECT_EQ(t.cls, L"");
    EXPECT_EQ(t.caption, Wide("Updateのﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.face, Wide("ＭＳ Ｐゴシック"));

    ASSERT_EQ(t.items.size(), 4u);
    ExpectItem(t.items[0], 0xFFFF, kStatic, L"#128", kChild | SS_ICON, 11, 17, 20, 20);
    ExpectItem(t.items[1], 0xFFFF, kStatic, L"Update Version 1.0",
               kChild | WS_GROUP | SS_NOPREFIX | SS_LEFT, 40, 10, 119, 8);
    EXPECT_NE(t.items[2].text.find(L"2006"), std::wstring::npos);
    ExpectItem(t.items[2], 0xFFFF, kStatic, t.items[2].text, kChild | WS_GROUP | SS_LEFT, 40, 25,
               119, 8);
    ExpectItem(t.items[3], IDOK, kButton, L"OK", kChild | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON,
               178, 7, 50, 14);
}

TEST_F(ProgramFile, VersionItemString) {
    // String 101 is entry 5 of the block 7 of sixteen strings.
    std::string block = Bytes(RT_STRING, 101 / 16 + 1);
    ASSERT_FALSE(block.empty());
    Reader r(block);
    std::wstring strings[16];
    for (std::wstring& s : strings) {
        WORD n = r.Word();
        for (WORD i = 0; i < n; ++i)
            s.push_back(static_cast<wchar_t>(r.Word()));
    }
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(strings[101 % 16], Wide("Update のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    for (int i = 0; i < 16; ++i) {
        if (i != 101 % 16) {
            EXPECT_TRUE(strings[i].empty()) << i;
        }
    }
    // And as the program loads it, in code page 932.
    char text[256];
    ASSERT_GT(LoadStringA(module_, 101, text, sizeof text), 0);
    EXPECT_STREQ(text, "Update のﾊﾞｰｼﾞｮﾝ情報(&A)...");
}

TEST_F(ProgramFile, IconIsOne32By32ImageInSixteenColours) {
    std::string group = Bytes(RT_GROUP_ICON, 128);
    Reader r(group);
    EXPECT_EQ(r.Word(), 0);
    EXPECT_EQ(r.Word(), 1); // icons
    ASSERT_EQ(r.Word(), 1); // one image
    BYTE width = r.Byte();
    BYTE height = r.Byte();
    BYTE colours = r.Byte();
    r.Byte();
    WORD planes = r.Word();
    WORD bits = r.Word();
    DWORD bytes = r.Dword();
    WORD id = r.Word();
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(width, 32);
    EXPECT_EQ(height, 32);
    EXPECT_EQ(colours, 16);
    EXPECT_EQ(planes, 1);
    EXPECT_EQ(bits, 4);

    std::string image = Bytes(RT_ICON, id);
    ASSERT_EQ(image.size(), bytes);
    BITMAPINFOHEADER header;
    ASSERT_GE(image.size(), sizeof header);
    memcpy(&header, image.data(), sizeof header);
    EXPECT_EQ(header.biWidth, 32);
    EXPECT_EQ(header.biHeight, 64); // colour image and mask
    EXPECT_EQ(header.biBitCount, 4);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    // Header, 16 colours, 32 rows of 16 bytes, and the mask of 32 rows of 4.
    EXPECT_EQ(image.size(), 40u + 16 * 4 + 32 * 16 + 32 * 4);

    // The icon loads, at the standard size.
    HICON icon =
        static_cast<HICON>(LoadImageA(module_, MAKEINTRESOURCEA(128), IMAGE_ICON, 32, 32, 0));
    ASSERT_NE(icon, nullptr);
    DestroyIcon(icon);
}

TEST_F(ProgramFile, BannerIs411By75With256Colours) {
    std::string bitmap = Bytes(RT_BITMAP, 129);
    BITMAPINFOHEADER header;
    ASSERT_GE(bitmap.size(), sizeof header);
    memcpy(&header, bitmap.data(), sizeof header);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 411);
    EXPECT_EQ(header.biHeight, 75);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 8);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_TRUE(header.biClrUsed == 0 || header.biClrUsed == 256) << header.biClrUsed;
    const size_t stride = 412;
    ASSERT_EQ(bitmap.size(), 40u + 256 * 4 + stride * 75);

    // The design: a blue band, lighter to the right; white ink of the word
    // mark at the upper left and of INSTALLER at the lower right only.
    const BYTE* palette = reinterpret_cast<const BYTE*>(bitmap.data()) + 40;
    const BYTE* pixels = palette + 256 * 4;
    auto rgb = [&](int x, int y) {
        const BYTE* p = palette + 4 * pixels[(74 - y) * stride + x];
        return RGB(p[2], p[1], p[0]);
    };
    auto whiteIn = [&](int left, int top, int right, int bottom) {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) {
                COLORREF c = rgb(x, y);
                n += GetRValue(c) > 230 && GetGValue(c) > 230 && GetBValue(c) > 230;
            }
        return n;
    };
    COLORREF left = rgb(1, 74);
    COLORREF right = rgb(409, 1);
    EXPECT_GT(GetBValue(left), 2 * GetRValue(left));
    EXPECT_GT(GetBValue(right), 2 * GetRValue(right));
    EXPECT_GT(GetBValue(right), GetBValue(left));
    EXPECT_GT(whiteIn(10, 8, 300, 48), 1500);  // TALMERO
    EXPECT_GT(whiteIn(280, 55, 411, 70), 100); // INSTALLER
    EXPECT_EQ(whiteIn(0, 58, 200, 75), 0);     // nothing at the lower left
}

TEST_F(ProgramFile, VersionRecord) {
    std::string raw = Bytes(RT_VERSION, 1);
    ASSERT_FALSE(raw.empty());
    // The string block's key is spelled exactly so.
    std::wstring key = L"041104B0";
    EXPECT_NE(raw.find(std::string(reinterpret_cast<const char*>(key.c_str()), key.size() * 2)),
              std::string::npos);

    std::string path = ts::BuildFile("Update/Update.exe");
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(Wide(path.c_str()).c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(Wide(path.c_str()).c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 0x04B0);

    const struct {
        const wchar_t* name;
        const wchar_t* value;
    } expected[] = {
#ifdef UPDATE_SAMPLE_PAYLOAD
        {L"Comments", L"TALMERO Option Updater (サンプルペイロード版: 配布しないでください)"},
#else
        {L"Comments", L"TALMERO Option Updater"},
#endif
        {L"FileDescription", L"TALMERO Option Updater"},
        {L"ProductName", L"TALMERO Option Updater"},
        {L"FileVersion", L"1.000.00"},
        {L"ProductVersion", L"1.000.00"},
        {L"OriginalFilename", L"Update.exe"},
        {L"InternalName", L" "},
        {L"PrivateBuild", L" "},
        {L"SpecialBuild", L" "},
    };
    for (const auto& e : expected) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\041104B0\\") + e.name;
        wchar_t* value = nullptr;
        ASSERT_TRUE(
            VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            << testing::PrintToString(std::wstring(e.name));
        EXPECT_EQ(std::wstring(value), e.value);
    }
    for (const wchar_t* name : {L"CompanyName", L"LegalCopyright", L"LegalTrademarks"}) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\041104B0\\") + name;
        wchar_t* value = nullptr;
        EXPECT_TRUE(
            VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length));
        EXPECT_TRUE(value != nullptr && value[0] != 0);
    }
}

TEST_F(ProgramFile, ManifestAsksForAdministratorAndCommonControls6) {
    std::string manifest = Bytes(MAKEINTRESOURCEA(24), 1); // RT_MANIFEST
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" "
                            "uiAccess=\"false\"/>"),
              std::string::npos);
    const char* systems[] = {
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}", // Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // 10 and 11
    };
    for (const char* id : systems)
        EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + id + "\"/>"), std::string::npos)
            << id;
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    EXPECT_NE(manifest.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos);
}

// Every resource of the program is in Japanese, and there is no menu and no
// accelerator table.
BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR out) {
    reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
    return TRUE;
}
BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR out) {
    EnumResourceLanguagesA(module, type, name, CollectLanguage, out);
    return TRUE;
}
BOOL CALLBACK CollectType(HMODULE module, LPSTR type, LONG_PTR out) {
    auto* types = reinterpret_cast<std::vector<std::string>*>(out);
    types->push_back(IS_INTRESOURCE(type) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(type))
                                          : std::string(type));
    (void)module;
    return TRUE;
}

TEST_F(ProgramFile, EveryResourceIsJapaneseAndThereIsNoMenu) {
    std::vector<std::string> types;
    EnumResourceTypesA(module_, CollectType, reinterpret_cast<LONG_PTR>(&types));
    EXPECT_FALSE(types.empty());
    for (const std::string& type : types) {
        LPCSTR id = type[0] == '#' ? MAKEINTRESOURCEA(atoi(type.c_str() + 1)) : type.c_str();
        std::vector<WORD> languages;
        EnumResourceNamesA(module_, id, CollectName, reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_FALSE(languages.empty()) << type;
        for (WORD language : languages)
            EXPECT_EQ(language, kJapanese) << type;
        EXPECT_NE(type, "#4") << "a menu";       // RT_MENU
        EXPECT_NE(type, "#9") << "accelerators"; // RT_ACCELERATOR
    }
    // What the program needs is there.
    for (const char* type : {"#2", "#3", "#5", "#6", "#14", "#16", "#24"})
        EXPECT_NE(std::find(types.begin(), types.end(), type), types.end()) << type;
}

} // namespace
