// The resources of the built Update.exe as Windows loads them: the images,
// the version record Explorer shows, the manifest Windows reads. The dialogs
// themselves are checked as the running program shows them.
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

// The colours of a loaded bitmap, pixel by pixel (top row first).
std::vector<COLORREF> Pixels(HBITMAP bitmap, int width, int height) {
    std::vector<COLORREF> pixels;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels.push_back(GetPixel(dc, x, y));
    SelectObject(dc, old);
    DeleteDC(dc);
    return pixels;
}

TEST_F(ProgramFile, IconIs32By32InSixteenColoursAtMost) {
    HICON icon =
        static_cast<HICON>(LoadImageA(module_, MAKEINTRESOURCEA(128), IMAGE_ICON, 0, 0, 0));
    ASSERT_NE(icon, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour = {};
    GetObjectA(info.hbmColor, sizeof colour, &colour);
    // The image's own size, as loaded without asking for one.
    EXPECT_EQ(colour.bmWidth, 32);
    EXPECT_EQ(colour.bmHeight, 32);
    std::vector<COLORREF> pixels = Pixels(info.hbmColor, 32, 32);
    std::sort(pixels.begin(), pixels.end());
    const size_t colours = std::unique(pixels.begin(), pixels.end()) - pixels.begin();
    EXPECT_GT(colours, 2u);
    EXPECT_LE(colours, 16u);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
}

TEST_F(ProgramFile, BannerIs411By75In256Colours) {
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(module_, MAKEINTRESOURCEA(129), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(bitmap, nullptr);
    DIBSECTION dib = {};
    ASSERT_EQ(GetObjectA(bitmap, sizeof dib, &dib), static_cast<int>(sizeof dib));
    EXPECT_EQ(dib.dsBm.bmWidth, 411);
    EXPECT_EQ(dib.dsBm.bmHeight, 75);
    EXPECT_EQ(dib.dsBm.bmBitsPixel, 8);
    const std::vector<COLORREF> pixels = Pixels(bitmap, 411, 75);
    DeleteObject(bitmap);

    // The design: a blue band, lighter to the right; white ink of the word
    // mark at the upper left and of INSTALLER at the lower right only.
    auto rgb = [&](int x, int y) { return pixels[y * 411 + x]; };
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
