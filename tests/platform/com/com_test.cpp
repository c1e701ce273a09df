// GUID text, BSTR, UTF conversions, the registry store and creation by class identifier.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "com/objbase.h"
#include "dshow/runtime.h"
#include "support/temp_registry.h"

using avs::com::ParseGuid;
using avs::com::RegistryStore;
using avs::com::RegistryTree;

TEST(GuidTest, FormatsAndParsesTheRegistryForm) {
    const GUID g = {0x6bb6d49b, 0x9860, 0x405c, {0x91, 0x8f, 0x0b, 0xbc, 0x19, 0x76, 0x11, 0x23}};
    EXPECT_EQ("{6BB6D49B-9860-405C-918F-0BBC19761123}", avs::com::GuidToString(g));
    EXPECT_EQ(g, ParseGuid(std::string_view("{6bb6d49b-9860-405c-918f-0bbc19761123}")).value());
    for (const char* bad :
         {"6BB6D49B-9860-405C-918F-0BBC19761123", "{6BB6D49B-9860-405C-918F-0BBC1976112}",
          "{6BB6D49B-9860-405C-918F-0BBC1976112G}", "{6BB6D49B99860-405C-918F-0BBC19761123}",
          "{6BB6D49B-9860-405C-918F-0BBC19761123", ""}) {
        EXPECT_FALSE(ParseGuid(std::string_view(bad)).has_value()) << bad;
    }
    WCHAR buf[39];
    EXPECT_EQ(39, StringFromGUID2(g, buf, 39));
    EXPECT_EQ(0, StringFromGUID2(g, buf, 38));
    CLSID back{};
    EXPECT_EQ(S_OK, CLSIDFromString(buf, &back));
    EXPECT_EQ(g, back);
    EXPECT_TRUE(FAILED(CLSIDFromString(L"{nonsense}", &back)));
}

TEST(ResultTest, MacrosComposeAndTestCodesAsWindowsDoes) {
    // Success codes other than S_OK still succeed; the severity bit alone fails.
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(SUCCEEDED(VFW_S_NO_MORE_ITEMS));
    EXPECT_TRUE(FAILED(E_FAIL));
    EXPECT_TRUE(FAILED(MAKE_HRESULT(1, 0, 0)));
    // Codes built from severity, facility (4: interface, 7: Win32) and code
    // match the defined ones; a slip in either side shows here.
    EXPECT_EQ(MAKE_HRESULT(1, 4, 0x204), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(MAKE_HRESULT(0, 4, 0x103), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(MAKE_HRESULT(1, 4, 0x111), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(0x204, HRESULT_CODE(VFW_E_ALREADY_CONNECTED));
    // Win32 error numbers map into facility 7: 2 not found, 14 out of memory,
    // 87 invalid parameter; 0 stays success.
    EXPECT_EQ(HRESULT_FROM_WIN32(2), HRESULT_FILE_NOT_FOUND);
    EXPECT_EQ(HRESULT_FROM_WIN32(14), E_OUTOFMEMORY);
    EXPECT_EQ(HRESULT_FROM_WIN32(87), E_INVALIDARG);
    EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
    EXPECT_EQ(HRESULT_FROM_WIN32(E_ABORT), E_ABORT);  // already an HRESULT
}

TEST(StringTest, BstrAndUtf8Conversions) {
    BSTR b = SysAllocString(L"Demmerly");
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(8u, SysStringLen(b));
    EXPECT_EQ(8u * sizeof(OLECHAR), SysStringByteLen(b));
    EXPECT_EQ(std::wstring(L"Demmerly"), b);
    SysFreeString(b);
    const OLECHAR withNul[] = {L'a', 0, L'b'};
    b = SysAllocStringLen(withNul, 3);
    EXPECT_EQ(3u, SysStringLen(b));
    EXPECT_EQ(L'b', b[2]);
    EXPECT_EQ(0, b[3]);
    SysFreeString(b);
    EXPECT_EQ(nullptr, SysAllocString(nullptr));
    EXPECT_EQ(0u, SysStringLen(nullptr));
    SysFreeString(nullptr);

    std::string text = "/tmp/\xE4\xB8\xAD\xE6\x96\x87/a.asm";
    EXPECT_EQ(text, avs::com::Narrow(avs::com::Widen(text)));
    EXPECT_EQ(L"/tmp/\u4e2d\u6587/a.asm", avs::com::Widen(text));
    // Broken UTF-8 becomes replacement characters instead of reading past the end.
    std::wstring broken = avs::com::Widen(std::string("ab\xE4\xB8", 4));
    EXPECT_EQ(3u, broken.size());
    EXPECT_EQ(L'\xFFFD', broken[2]);
    // Wide text that is no character: a surrogate pair (as a 16-bit wchar_t
    // holds U+1F600) is one code point, a lone surrogate or a value past
    // U+10FFFF is the replacement character, never bytes of invalid UTF-8.
    const std::wstring pair = {L'a', static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ("a\xF0\x9F\x98\x80", avs::com::Narrow(pair));
    const std::wstring lone = {static_cast<wchar_t>(0xDC00), L'b', static_cast<wchar_t>(0xD800)};
    EXPECT_EQ(
        "\xEF\xBF\xBD"
        "b"
        "\xEF\xBF\xBD",
        avs::com::Narrow(lone));
    if constexpr (sizeof(wchar_t) == 4) {
        const std::wstring past = {static_cast<wchar_t>(0x110000)};
        EXPECT_EQ("\xEF\xBF\xBD", avs::com::Narrow(past));
    }
}

TEST(StringTest, Win32ConversionsReportSizesAndRefuseSmallBuffers) {
    const wchar_t* url = L"rtsp2://h\u00e9/a.asm";
    int need = WideCharToMultiByte(CP_ACP, 0, url, -1, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(18, need);  // 16 characters, one of them two bytes, and the terminator
    char buf[32];
    EXPECT_EQ(0, WideCharToMultiByte(CP_ACP, 0, url, -1, buf, need - 1, nullptr, nullptr));
    ASSERT_EQ(need, WideCharToMultiByte(CP_ACP, 0, url, -1, buf, sizeof buf, nullptr, nullptr));
    EXPECT_STREQ("rtsp2://h\xC3\xA9/a.asm", buf);
    wchar_t back[32];
    ASSERT_EQ(17, MultiByteToWideChar(CP_ACP, 0, buf, -1, back, 32));
    EXPECT_STREQ(url, back);
    EXPECT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, "rtsp", 4, back, 32));  // no terminator asked
}

TEST(RegistryTest, KeysValuesTreesAndTheTextForm) {
    avs::test::TempRegistry reg;
    RegistryStore store;
    EXPECT_EQ(reg.Path(), store.path());
    EXPECT_FALSE(store.KeyExists("A"));  // no file yet: empty
    ASSERT_EQ(S_OK, store.SetValue("HKEY_CLASSES_ROOT\\CLSID\\Key1", "", "one"));
    ASSERT_EQ(S_OK, store.SetValue("HKEY_CLASSES_ROOT\\CLSID\\Key1\\Sub", "Name",
                                   "quote \" and \\ and\nnewline"));
    ASSERT_EQ(S_OK, store.SetValue("HKEY_CLASSES_ROOT\\CLSID\\Key10", "", "ten"));
    // Keys compare without regard to case, as in the Windows registry.
    EXPECT_EQ("one", store.GetValue("hkey_classes_root\\clsid\\KEY1", "").value_or(""));
    EXPECT_EQ("quote \" and \\ and\nnewline",
              store.GetValue("HKEY_CLASSES_ROOT\\CLSID\\Key1\\Sub", "Name").value_or(""));
    auto subs = store.SubKeys("HKEY_CLASSES_ROOT\\CLSID");
    ASSERT_EQ(2u, subs.size());
    EXPECT_EQ("Key1", subs[0]);
    EXPECT_EQ("Key10", subs[1]);
    // Deleting a tree leaves a sibling that merely shares a prefix.
    EXPECT_EQ(S_OK, store.DeleteTree("HKEY_CLASSES_ROOT\\CLSID\\Key1"));
    EXPECT_FALSE(store.KeyExists("HKEY_CLASSES_ROOT\\CLSID\\Key1\\Sub"));
    EXPECT_TRUE(store.KeyExists("HKEY_CLASSES_ROOT\\CLSID\\Key10"));
    EXPECT_EQ(S_FALSE, store.DeleteTree("HKEY_CLASSES_ROOT\\CLSID\\Key1"));

    RegistryTree tree;
    ASSERT_EQ(S_OK, store.Read(&tree));
    RegistryTree back;
    ASSERT_TRUE(RegistryStore::Parse(RegistryStore::Serialize(tree), &back));
    EXPECT_EQ(tree, back);
    for (const char* bad :
         {"garbage", "AVS Registry 1\n\"x\"=\"y\"\n", "AVS Registry 1\n[k]\n\"x\"=\"unterminated\n",
          "AVS Registry 1\n[k]\n@=\"v\" trailing\n", "AVS Registry 1\n[]\n"}) {
        RegistryTree t;
        EXPECT_FALSE(RegistryStore::Parse(bad, &t)) << bad;
    }
}

TEST(RegistryTest, ACorruptFileIsReportedAndNeverOverwritten) {
    avs::test::TempRegistry reg;
    { std::ofstream(reg.Path()) << "not a registry\n"; }
    RegistryStore store;
    EXPECT_EQ(REGDB_E_READREGDB, store.SetValue("K", "", "v"));
    EXPECT_EQ("not a registry\n", reg.Text());
}

TEST(RegistryTest, ConcurrentWritersLoseNothing) {
    avs::test::TempRegistry reg;
    auto writer = [](int id) {
        RegistryStore store;
        for (int i = 0; i < 40; ++i)
            store.SetValue("K" + std::to_string(id) + "\\" + std::to_string(i), "", "x");
    };
    std::thread a(writer, 1), b(writer, 2);
    a.join();
    b.join();
    RegistryStore store;
    EXPECT_EQ(40u, store.SubKeys("K1").size());
    EXPECT_EQ(40u, store.SubKeys("K2").size());
}

TEST(RuntimeTest, CreatesBuiltinClassesAndRefusesUnknownOnes) {
    avs::test::TempRegistry reg;
    avs::com::ComPtr<IGraphBuilder> gb;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IGraphBuilder, gb.PutVoid()));
    avs::com::ComPtr<IFilterMapper2> mapper;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IFilterMapper2, mapper.PutVoid()));
    avs::com::ComPtr<IBaseFilter> nr;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IBaseFilter, nr.PutVoid()));
    const CLSID unknown = {0x12345678, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
    avs::com::ComPtr<IUnknown> u;
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, u.PutVoid()));
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              CoCreateInstance(CLSID_NullRenderer, gb.Get(), CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               u.PutVoid()));
    // Aggregated: the inner object's interfaces answer for the outer one.
    avs::com::ComPtr<IUnknown> inner;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, gb.Get(), CLSCTX_INPROC_SERVER,
                                     IID_IUnknown, inner.PutVoid()));
    avs::com::ComPtr<IBaseFilter> f;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_IBaseFilter, f.PutVoid()));
    avs::com::ComPtr<IGraphBuilder> viaOuter;
    EXPECT_EQ(S_OK, f->QueryInterface(IID_IGraphBuilder, viaOuter.PutVoid()));
    EXPECT_EQ(gb.Get(), viaOuter.Get());
}
