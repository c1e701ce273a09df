// The windows the front-end hands to the system, used the way a person uses them: the file-open
// dialog with multiple selection behind Add, the shell's folder browser behind Browse, and the
// progress bar while a run started with the conversion button goes on. The common dialogs run
// their own modal loops on the test's thread; a driver thread finds them, works their controls
// with messages and presses their buttons. Every wait has a bound, and a watchdog ends the
// program when a step hangs all the same.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
#include <objbase.h>
#include <shlobj.h>
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "frontend/win32/resource.h"
#include "frontend/win32/win32_dialogs.h"
#include "frontend/win32/win32_text.h"

namespace avs::frontend::win32 {
namespace {

constexpr DWORD kStepMs = 10000;  // what one step may take before it counts as failed

// Ends the program when a test has not finished in time: a modal loop that nobody closes
// would otherwise keep it waiting until CTest's timeout.
class Watchdog {
  public:
    Watchdog(DWORD ms, const char* what) : ms_(ms), what_(what) {
        done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~Watchdog() {
        SetEvent(done_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(done_);
    }

  private:
    static DWORD WINAPI Run(void* p) {
        auto* self = static_cast<Watchdog*>(p);
        if (WaitForSingleObject(self->done_, self->ms_) == WAIT_TIMEOUT) {
            std::fprintf(stderr, "watchdog: %s did not end within %lu ms\n", self->what_,
                         static_cast<unsigned long>(self->ms_));
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        return 0;
    }
    DWORD ms_;
    const char* what_;
    HANDLE done_ = nullptr;
    HANDLE thread_ = nullptr;
};

std::wstring ClassOf(HWND w) {
    wchar_t name[64] = {};
    GetClassNameW(w, name, 64);
    return name;
}

bool IsClass(HWND w, const wchar_t* name) {
    return _wcsicmp(ClassOf(w).c_str(), name) == 0;
}

// SendMessage with a bound: a window that stops answering fails the step instead of hanging it.
bool Send(HWND w, UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result = nullptr) {
    DWORD_PTR r = 0;
    const bool ok = SendMessageTimeoutW(w, message, wparam, lparam, SMTO_NORMAL, kStepMs, &r) != 0;
    if (result != nullptr) *result = static_cast<LRESULT>(r);
    return ok;
}

std::wstring TextOf(HWND w) {
    LRESULT n = 0;
    if (w == nullptr || !Send(w, WM_GETTEXTLENGTH, 0, 0, &n)) return {};
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    LRESULT got = 0;
    Send(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &got);
    text.resize(static_cast<size_t>(got));
    return text;
}

// Tries `ready` every 20 ms until it holds or `ms` have passed.
bool WaitFor(const std::function<bool()>& ready, DWORD ms = kStepMs) {
    const DWORD t0 = GetTickCount();
    for (;;) {
        if (ready()) return true;
        if (GetTickCount() - t0 >= ms) return false;
        Sleep(20);
    }
}

// The visible dialogs of `thread` whose owner is `owner` (the common dialogs, their message
// boxes).
// The enumeration callbacks are plain functions: a lambda does not take the system's
// calling convention, which differs on 32-bit Windows.
struct OwnedSearch {
    HWND owner;
    std::vector<HWND> found;
};
BOOL CALLBACK CollectOwned(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<OwnedSearch*>(p);
    if (IsWindowVisible(w) && IsClass(w, L"#32770") && GetWindow(w, GW_OWNER) == s->owner)
        s->found.push_back(w);
    return TRUE;
}
std::vector<HWND> OwnedDialogs(DWORD thread, HWND owner) {
    OwnedSearch search{owner, {}};
    EnumThreadWindows(thread, CollectOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct ClassSearch {
    const wchar_t* window_class;
    HWND found;
};
BOOL CALLBACK StopAtClass(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<ClassSearch*>(p);
    if (!IsClass(w, s->window_class)) return TRUE;
    s->found = w;
    return FALSE;
}
HWND FindDescendant(HWND parent, const wchar_t* window_class) {
    ClassSearch search{window_class, nullptr};
    EnumChildWindows(parent, StopAtClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Every control of a dialog, for a failure message that shows what the window held.
BOOL CALLBACK AppendControl(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<std::string*>(p);
    *s += "\n  " + Narrow(ClassOf(w)) + " id " + std::to_string(GetDlgCtrlID(w)) +
          (IsWindowVisible(w) ? "" : " hidden") + " \"" + Narrow(TextOf(w)) + "\"";
    return TRUE;
}
std::string Describe(HWND dialog) {
    std::string out = "window \"" + Narrow(TextOf(dialog)) + "\":";
    EnumChildWindows(dialog, AppendControl, reinterpret_cast<LPARAM>(&out));
    return out;
}

// A button pressed the way a click presses it: the button itself tells its dialog.
bool Press(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    return button != nullptr && Send(button, BM_CLICK, 0, 0);
}

// Runs a script on a thread of its own while the test's thread sits in a modal loop. The
// script ends by pressing a button of the window it was given; whatever it leaves open
// (after a failure, say) is cancelled afterwards, so the modal loop always returns.
class Driver {
  public:
    using Script = std::function<void(Driver&, HWND)>;

    // `owner` is the window whose click opens the modal window the script works on.
    Driver(HWND owner, Script script)
        : owner_(owner), ui_thread_(GetCurrentThreadId()), script_(std::move(script)) {
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~Driver() { Join(); }

    void Fail(const std::string& why) {
        if (failure_.empty()) failure_ = why;
    }
    // Waits for the script and what it left open; the failure, or empty.
    std::string Join() {
        if (thread_ != nullptr) {
            if (WaitForSingleObject(thread_, 3 * kStepMs) == WAIT_TIMEOUT)
                Fail("the driver thread did not end");
            CloseHandle(thread_);
            thread_ = nullptr;
        }
        return failure_;
    }

  private:
    static DWORD WINAPI Run(void* p) {
        auto* self = static_cast<Driver*>(p);
        HWND window = nullptr;
        WaitFor([&] {
            const std::vector<HWND> found = OwnedDialogs(self->ui_thread_, self->owner_);
            if (!found.empty()) window = found[0];
            return window != nullptr;
        });
        if (window == nullptr) {
            self->Fail("no dialog owned by the clicked window appeared");
        } else {
            self->script_(*self, window);
            self->CancelLeftovers();
        }
        return 0;
    }

    // Cancels the dialogs still open above the owner, the most recent first.
    void CancelLeftovers() {
        WaitFor([&] {
            std::vector<HWND> open;
            std::vector<HWND> level = OwnedDialogs(ui_thread_, owner_);
            while (!level.empty()) {
                open.insert(open.end(), level.begin(), level.end());
                std::vector<HWND> next;
                for (HWND w : level) {
                    for (HWND o : OwnedDialogs(ui_thread_, w)) next.push_back(o);
                }
                level = next;
            }
            if (open.empty()) return true;
            Fail("a dialog was left open: " + Describe(open.back()));
            PostMessageW(open.back(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return false;
        });
    }

    HWND owner_;
    DWORD ui_thread_;
    Script script_;
    HANDLE thread_ = nullptr;
    std::string failure_;
};

struct TempFolder {
    explicit TempFolder(const std::wstring& name) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        wchar_t full[MAX_PATH] = {};
        GetLongPathNameW(temp, full, MAX_PATH);
        path = std::wstring(full) + name + L" " + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path.c_str(), nullptr);
    }
    ~TempFolder() { Remove(path); }
    static void Remove(const std::wstring& dir) {
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = entry.cFileName;
                if (name == L"." || name == L"..") continue;
                const std::wstring child = dir + L"\\" + name;
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    Remove(child);
                } else {
                    DeleteFileW(child.c_str());
                }
            } while (FindNextFileW(find, &entry));
            FindClose(find);
        }
        RemoveDirectoryW(dir.c_str());
    }
    std::wstring Touch(const std::wstring& name) const {
        const std::wstring file = path + L"\\" + name;
        CloseHandle(
            CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        return file;
    }
    std::wstring path;
};

std::vector<std::string> Utf8(const std::vector<std::wstring>& paths) {
    std::vector<std::string> out;
    for (const std::wstring& p : paths) out.push_back(Narrow(p));
    return out;
}

// --- The file-open dialog ---

// The edit a person types names into: inside the combo box, or the plain edit.
HWND FileNameEdit(HWND dialog) {
    HWND box = GetDlgItem(dialog, cmb13);
    if (box == nullptr) return GetDlgItem(dialog, edt1);
    if (IsClass(box, WC_COMBOBOXEXW)) {
        LRESULT edit = 0;
        Send(box, CBEM_GETEDITCONTROL, 0, 0, &edit);
        return reinterpret_cast<HWND>(edit);
    }
    HWND edit = FindWindowExW(box, nullptr, L"Edit", nullptr);
    return edit != nullptr ? edit : box;
}

// The names as the dialog reads them when Open is pressed: the box's own text (an edit inside
// it keeps no more than its limit).
std::wstring NamesShown(HWND dialog) {
    HWND box = GetDlgItem(dialog, cmb13);
    return TextOf(box != nullptr ? box : GetDlgItem(dialog, edt1));
}

std::wstring FolderShown(HWND dialog) {
    wchar_t path[MAX_PATH] = {};
    Send(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(path));
    return path;
}

// Types `text` into the file name box and presses Open.
bool TypeAndOpen(Driver& driver, HWND dialog, const std::wstring& text) {
    HWND edit = FileNameEdit(dialog);
    if (edit == nullptr || !Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()))) {
        driver.Fail("no file name box: " + Describe(dialog));
        return false;
    }
    if (!Press(dialog, IDOK)) {
        driver.Fail("no Open button: " + Describe(dialog));
        return false;
    }
    return true;
}

// Goes to `folder` the way a person types it into the name box and presses Open.
bool GoTo(Driver& driver, HWND dialog, const std::wstring& folder) {
    if (!TypeAndOpen(driver, dialog, folder)) return false;
    if (!WaitFor([&] { return _wcsicmp(FolderShown(dialog).c_str(), folder.c_str()) == 0; })) {
        driver.Fail("the dialog did not go to " + Narrow(folder) + "; it shows " +
                    Narrow(FolderShown(dialog)));
        return false;
    }
    return true;
}

std::wstring ItemText(HWND view, int index) {
    wchar_t text[MAX_PATH] = {};
    LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    Send(view, LVM_GETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
    return text;
}

// The folder view shows a name with or without its extension.
bool ShowsName(const std::wstring& shown, const std::wstring& name) {
    return shown == name || shown == name.substr(0, name.rfind(L'.'));
}

// Selects exactly `names` in the folder view, as clicks with Ctrl held would, and waits for
// the dialog to put them into its name box.
bool SelectInView(Driver& driver, HWND dialog, const std::vector<std::wstring>& names) {
    HWND view = FindDescendant(dialog, WC_LISTVIEWW);
    if (view == nullptr) {
        driver.Fail("no folder view: " + Describe(dialog));
        return false;
    }
    std::vector<int> indices;
    WaitFor([&] {
        indices.clear();
        LRESULT count = 0;
        Send(view, LVM_GETITEMCOUNT, 0, 0, &count);
        for (const std::wstring& name : names) {
            for (int i = 0; i < count; ++i) {
                if (ShowsName(ItemText(view, i), name)) {
                    indices.push_back(i);
                    break;
                }
            }
        }
        return indices.size() == names.size();
    });
    if (indices.size() != names.size()) {
        driver.Fail("the folder view does not show every file");
        return false;
    }
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED;
    Send(view, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    for (int i : indices) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        Send(view, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&item));
    }
    const bool listed = WaitFor([&] {
        const std::wstring text = NamesShown(dialog);
        if (names.size() == 1) return text == names[0];  // one name comes unquoted
        for (const std::wstring& name : names) {
            if (text.find(L"\"" + name + L"\"") == std::wstring::npos) return false;
        }
        return true;
    });
    if (!listed) driver.Fail("the name box shows " + Narrow(NamesShown(dialog)));
    return listed;
}

// Clicks the button `id` of `owner`; `script` works the dialog that opens (the file
// dialog behind Add, the folder browser behind Browse).
std::string ClickAndDrive(HWND owner, int id, Driver::Script script) {
    Driver driver(owner, std::move(script));
    Send(GetDlgItem(owner, id), BM_CLICK, 0, 0);
    return driver.Join();
}
std::string AddThroughTheDialog(HWND main, Driver::Script script) {
    return ClickAndDrive(main, IDC_ADD_FILES, std::move(script));
}

TEST(OstranderCommonDialogs, AddListsExactlyTheFilesChosenInTheFileDialog) {
    Watchdog watchdog(120000, "the file dialog test");
    TempFolder dir(L"选择 文件");
    const std::wstring a = dir.Touch(L"a b 中文.avi");
    const std::wstring b = dir.Touch(L"b.avi");
    const std::wstring c = dir.Touch(L"c 片段.wmv");
    const std::wstring d = dir.Touch(L"d.rm");
    wchar_t old_dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, old_dir);

    Prompts prompts{true};
    COstranderDlg main(prompts);
    HWND m = main.CreateModeless();
    ASSERT_NE(m, nullptr);
    ShowWindow(m, SW_SHOW);

    // Two names typed in the box, quoted, the later one first.
    EXPECT_EQ(AddThroughTheDialog(m,
                                  [&](Driver& driver, HWND dialog) {
                                      if (GoTo(driver, dialog, dir.path)) {
                                          TypeAndOpen(driver, dialog,
                                                      L"\"c 片段.wmv\" \"a b 中文.avi\"");
                                      }
                                  }),
              "");
    EXPECT_EQ(main.Files(), Utf8({a, c}));

    // Two files clicked in the folder view, one of them listed already.
    EXPECT_EQ(AddThroughTheDialog(m,
                                  [&](Driver& driver, HWND dialog) {
                                      if (GoTo(driver, dialog, dir.path) &&
                                          SelectInView(driver, dialog, {L"b.avi", L"c 片段.wmv"})) {
                                          Press(dialog, IDOK);
                                      }
                                  }),
              "");
    EXPECT_EQ(main.Files(), Utf8({a, b, c}));

    // One file alone comes back as one full path.
    EXPECT_EQ(AddThroughTheDialog(m,
                                  [&](Driver& driver, HWND dialog) {
                                      if (GoTo(driver, dialog, dir.path) &&
                                          SelectInView(driver, dialog, {L"d.rm"})) {
                                          Press(dialog, IDOK);
                                      }
                                  }),
              "");
    EXPECT_EQ(main.Files(), Utf8({a, b, c, d}));

    // Cancel after choosing: the list stays.
    main.OnClearFiles();
    main.AddFiles({Narrow(b)});
    EXPECT_EQ(
        AddThroughTheDialog(m,
                            [&](Driver& driver, HWND dialog) {
                                if (GoTo(driver, dialog, dir.path) &&
                                    SelectInView(driver, dialog, {L"a b 中文.avi", L"d.rm"})) {
                                    Press(dialog, IDCANCEL);
                                }
                            }),
        "");
    EXPECT_EQ(main.Files(), Utf8({b}));
    SetCurrentDirectoryW(old_dir);  // the dialog makes the chosen files' folder current
}

// Selects every file in the folder view, as Ctrl+A would, and waits until the name box lists
// `count` names.
bool SelectAll(Driver& driver, HWND dialog, size_t count) {
    HWND view = FindDescendant(dialog, WC_LISTVIEWW);
    LRESULT shown = 0;
    if (view == nullptr || !WaitFor([&] {
            Send(view, LVM_GETITEMCOUNT, 0, 0, &shown);
            return static_cast<size_t>(shown) == count;
        })) {
        driver.Fail("the folder view shows " + std::to_string(shown) + " files");
        return false;
    }
    LVITEMW all{};
    all.stateMask = LVIS_SELECTED;
    all.state = LVIS_SELECTED;
    Send(view, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&all));
    // The dialog rebuilds the names for each item that changes: a minute for some hundreds.
    size_t quoted = 0;
    const bool listed = WaitFor(
        [&] {
            const std::wstring text = NamesShown(dialog);
            quoted = static_cast<size_t>(std::count(text.begin(), text.end(), L'"'));
            return quoted == 2 * count;
        },
        90000);
    if (!listed) driver.Fail("the name box lists " + std::to_string(quoted / 2) + " names");
    return listed;
}

TEST(OstranderCommonDialogs, AddTakesASelectionLongerThanTheNamesBufferStartsWith) {
    Watchdog watchdog(180000, "the long selection test");
    TempFolder dir(L"many 名字");
    std::vector<std::wstring> files;
    const std::wstring padding(190, L'x');  // full paths stay within MAX_PATH
    for (int i = 0; i < 360; ++i) {
        files.push_back(dir.Touch(std::to_wstring(1000 + i) + L" 片段 " + padding + L".avi"));
    }
    size_t chars = 0;
    for (const std::wstring& f : files) chars += f.size() - dir.path.size();
    ASSERT_GT(chars, 67600u);  // more than the dialog's buffer holds at first
    wchar_t old_dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, old_dir);

    Prompts prompts{true};
    COstranderDlg main(prompts);
    HWND m = main.CreateModeless();
    ASSERT_NE(m, nullptr);
    ShowWindow(m, SW_SHOW);
    EXPECT_EQ(AddThroughTheDialog(m,
                                  [&](Driver& driver, HWND dialog) {
                                      if (GoTo(driver, dialog, dir.path) &&
                                          SelectAll(driver, dialog, files.size())) {
                                          Press(dialog, IDOK);
                                      }
                                  }),
              "");
    const std::vector<std::string> listed = main.Files();
    const std::vector<std::string> chosen = Utf8(files);
    EXPECT_EQ(listed.size(), chosen.size());
    const auto differ = std::mismatch(listed.begin(), listed.end(), chosen.begin(), chosen.end());
    if (differ.first != listed.end()) ADD_FAILURE() << "first entry not chosen: " << *differ.first;
    SetCurrentDirectoryW(old_dir);
}

// --- The folder browser ---

HTREEITEM NextItem(HWND tree, UINT which, HTREEITEM from) {
    LRESULT item = 0;
    Send(tree, TVM_GETNEXTITEM, which, reinterpret_cast<LPARAM>(from), &item);
    return reinterpret_cast<HTREEITEM>(item);
}

std::wstring TreeText(HWND tree, HTREEITEM item) {
    wchar_t text[MAX_PATH] = {};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = MAX_PATH;
    Send(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

std::wstring LastName(const std::wstring& path) {
    return path.substr(path.rfind(L'\\') + 1);
}

// Chooses `folder` in the browser: the tree is opened down to its parent (the browser's own
// message for it), then the parent is expanded and the folder clicked in the tree.
bool ChooseFolder(Driver& driver, HWND browser, const std::wstring& folder) {
    HWND tree = FindDescendant(browser, WC_TREEVIEWW);
    if (tree == nullptr) {
        driver.Fail("no tree: " + Describe(browser));
        return false;
    }
    const std::wstring parent = folder.substr(0, folder.rfind(L'\\'));
    HTREEITEM at = nullptr;
    // Asked again until it holds: the browser may still be filling its tree when it shows.
    if (!WaitFor([&] {
            Send(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(parent.c_str()));
            at = NextItem(tree, TVGN_CARET, nullptr);
            if (at != nullptr && TreeText(tree, at) == LastName(parent)) return true;
            Sleep(200);
            return false;
        })) {
        driver.Fail("the tree did not open at " + Narrow(parent));
        return false;
    }
    Send(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(at));
    HTREEITEM child = nullptr;
    WaitFor([&] {
        for (child = NextItem(tree, TVGN_CHILD, at); child != nullptr;
             child = NextItem(tree, TVGN_NEXT, child)) {
            if (TreeText(tree, child) == LastName(folder)) return true;
        }
        return false;
    });
    if (child == nullptr) {
        driver.Fail("the tree shows no " + Narrow(LastName(folder)) + " under " + Narrow(parent));
        return false;
    }
    Send(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(child));
    if (NextItem(tree, TVGN_CARET, nullptr) != child) {
        driver.Fail("the folder could not be selected");
        return false;
    }
    return true;
}

std::string BrowseThroughTheDialog(HWND settings, Driver::Script script) {
    return ClickAndDrive(settings, IDC_BROWSE, std::move(script));
}

TEST(OstranderCommonDialogs, BrowseShowsTheFolderChosenInTheFolderBrowser) {
    Watchdog watchdog(120000, "the folder browser test");
    TempFolder dir(L"输出 目录");
    const std::wstring target = dir.path + L"\\目标 文件夹";
    const std::wstring other = dir.path + L"\\other";
    CreateDirectoryW(target.c_str(), nullptr);
    CreateDirectoryW(other.c_str(), nullptr);

    Prompts prompts{true};
    ConversionSettings s;
    s.output_path = "D:\\old";
    CSettingDlg settings(prompts);
    settings.Fields() = FieldsFromSettings(s);
    HWND d = settings.CreateModeless(nullptr);
    ASSERT_NE(d, nullptr);
    ShowWindow(d, SW_SHOW);
    auto output = [&] { return Narrow(WindowText(GetDlgItem(d, IDC_OUTPUT_PATH))); };

    std::wstring title;
    EXPECT_EQ(BrowseThroughTheDialog(d,
                                     [&](Driver& driver, HWND browser) {
                                         title = TextOf(FindWindowExW(browser, nullptr, L"Static",
                                                                      L"请选择文件路径: "));
                                         if (ChooseFolder(driver, browser, target))
                                             Press(browser, IDOK);
                                     }),
              "");
    EXPECT_EQ(output(), Narrow(target));
    EXPECT_EQ(Narrow(title), "请选择文件路径: ");

    // Cancel after choosing another folder: the field keeps the first.
    EXPECT_EQ(BrowseThroughTheDialog(d,
                                     [&](Driver& driver, HWND browser) {
                                         if (ChooseFolder(driver, browser, other))
                                             Press(browser, IDCANCEL);
                                     }),
              "");
    EXPECT_EQ(output(), Narrow(target));

    // What was typed into the other fields stays, even where it does not parse.
    SetDlgItemTextW(d, IDC_GOP_LENGTH, L"12x");
    SetDlgItemTextW(d, IDC_THREAD_NUM, L"7");
    EXPECT_EQ(BrowseThroughTheDialog(d,
                                     [&](Driver& driver, HWND browser) {
                                         if (ChooseFolder(driver, browser, other))
                                             Press(browser, IDOK);
                                     }),
              "");
    EXPECT_EQ(output(), Narrow(other));
    EXPECT_EQ(Narrow(WindowText(GetDlgItem(d, IDC_GOP_LENGTH))), "12x");
    EXPECT_EQ(Narrow(WindowText(GetDlgItem(d, IDC_THREAD_NUM))), "7");
    SetDlgItemTextW(d, IDC_GOP_LENGTH, L"12");
    ASSERT_TRUE(settings.UpdateData(true));
    EXPECT_EQ(settings.Fields().output_path, Narrow(other));
    EXPECT_EQ(settings.Fields().thread_num, 7);
    DestroyWindow(d);
}

// --- The progress bar during a run ---

struct BarState {
    int pos;
    int low;
    int high;
};

WNDPROC g_bar_proc = nullptr;
std::vector<BarState>* g_bar_changes = nullptr;  // after every change the run makes
std::vector<BarState>* g_bar_samples = nullptr;  // as the timer finds it while the run goes on
HWND g_bar = nullptr;

BarState ReadBar(HWND bar, WNDPROC proc) {
    PBRANGE range{};
    const int pos = static_cast<int>(CallWindowProcW(proc, bar, PBM_GETPOS, 0, 0));
    CallWindowProcW(proc, bar, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    return {pos, range.iLow, range.iHigh};
}

LRESULT CALLBACK RecordingBarProc(HWND bar, UINT message, WPARAM wparam, LPARAM lparam) {
    const LRESULT r = CallWindowProcW(g_bar_proc, bar, message, wparam, lparam);
    if (g_bar_changes != nullptr &&
        (message == PBM_SETPOS || message == PBM_SETRANGE || message == PBM_SETRANGE32 ||
         message == PBM_DELTAPOS || message == PBM_STEPIT)) {
        g_bar_changes->push_back(ReadBar(bar, g_bar_proc));
    }
    return r;
}

void CALLBACK SampleBar(HWND, UINT, UINT_PTR, DWORD) {
    if (g_bar_samples == nullptr) return;
    PBRANGE range{};
    const int pos = static_cast<int>(SendMessageW(g_bar, PBM_GETPOS, 0, 0));
    SendMessageW(g_bar, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    g_bar_samples->push_back({pos, range.iLow, range.iHigh});
}

std::string Positions(const std::vector<BarState>& states) {
    std::string out;
    for (const BarState& s : states) out += std::to_string(s.pos) + " ";
    return out;
}

// The values one source's run passes through, from the reset to 0 at its start on.
std::vector<std::vector<int>> PerSource(const std::vector<BarState>& states) {
    std::vector<std::vector<int>> runs;
    for (const BarState& s : states) {
        if (runs.empty() || (s.pos == 0 && runs.back().back() != 0)) runs.emplace_back();
        runs.back().push_back(s.pos);
    }
    return runs;
}

TEST(OstranderCommonDialogs, ProgressBarClimbsThroughEachSourceOfARunStartedFromTheDialog) {
    Watchdog watchdog(120000, "the progress test");
    TempFolder dir(L"进度 run");
    const std::wstring stand_in = Widen(AVS_TESTS_DIR_WIN) + L"\\ostrander_stand_in.exe";
    for (const wchar_t* program : {L"Harrowgate", L"Quenby", L"Lindqvale", L"Korvel"}) {
        ASSERT_TRUE(
            CopyFileW(stand_in.c_str(), (dir.path + L"\\" + program + L".exe").c_str(), FALSE));
    }
    const std::vector<std::wstring> sources = {dir.Touch(L"第一 段.avi"), dir.Touch(L"second.avi")};
    wchar_t old_dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, old_dir);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.path.c_str()));  // the start directory
    std::vector<BarState> changes;
    std::vector<BarState> samples;
    {
        Prompts prompts{true};
        COstranderDlg main(prompts);
        HWND m = main.CreateModeless();
        ASSERT_NE(m, nullptr);
        ShowWindow(m, SW_SHOW);
        main.AddFiles(Utf8(sources));
        g_bar = GetDlgItem(m, IDC_PROGRESS);
        g_bar_proc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(g_bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingBarProc)));
        g_bar_changes = &changes;
        g_bar_samples = &samples;
        const UINT_PTR timer = SetTimer(nullptr, 0, 10, SampleBar);
        Send(GetDlgItem(m, IDC_CONVERT_TS), BM_CLICK, 0, 0);
        KillTimer(nullptr, timer);
        g_bar_changes = nullptr;
        g_bar_samples = nullptr;
        // After the run: the list is empty, the bar back at 0 and the label says so.
        EXPECT_EQ(main.FileCount(), 0);
        EXPECT_EQ(SendMessageW(g_bar, PBM_GETPOS, 0, 0), 0);
        EXPECT_EQ(Narrow(WindowText(GetDlgItem(m, -1))), "完成");
    }
    SetCurrentDirectoryW(old_dir);

    std::printf("bar after each change: %s\nbar as sampled: %s\n", Positions(changes).c_str(),
                Positions(samples).c_str());
    // Every change the run made: the range 0 to 100 throughout, each source from 0 up to 100.
    ASSERT_FALSE(changes.empty());
    for (const BarState& s : changes) {
        EXPECT_EQ(s.low, 0);
        EXPECT_EQ(s.high, 100);
    }
    std::vector<std::vector<int>> runs = PerSource(changes);
    ASSERT_FALSE(runs.empty());
    if (runs.back() == std::vector<int>{0}) runs.pop_back();  // the reset after the last source
    ASSERT_EQ(runs.size(), sources.size()) << Positions(changes);
    for (const std::vector<int>& run : runs) {
        SCOPED_TRACE(Positions(changes));
        EXPECT_EQ(run.front(), 0);
        EXPECT_EQ(run.back(), 100);
        int between = 0;
        for (size_t i = 1; i < run.size(); ++i) {
            if (run[i] > 0 && run[i] < 100 && run[i] != run[i - 1]) ++between;
            if (run[i] >= run[i - 1]) continue;
            // The one step back the progress rule makes: the audio encoder's closing "100%"
            // is read from its last two digits as 0, which puts the bar at 95 until the
            // stage's end sets 99.
            EXPECT_TRUE(run[i] == 95 && run[i - 1] > 95 && i + 1 < run.size() && run[i + 1] == 99)
                << "step back from " << run[i - 1] << " to " << run[i];
        }
        EXPECT_GE(between, 3);  // the video stage's percentages at least
    }

    // What the dialog showed while the run went on: values between the ends, within range.
    int shown_between = 0;
    int last = -1;
    for (const BarState& s : samples) {
        EXPECT_EQ(s.high, 100);
        if (s.pos > 0 && s.pos < 100 && s.pos != last) ++shown_between;
        last = s.pos;
    }
    EXPECT_GE(shown_between, 2) << Positions(samples);
}

}  // namespace
}  // namespace avs::frontend::win32

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    // As in the program: the folder browser needs COM on the dialogs' thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    testing::InitGoogleTest(&argc, argv);
    const int code = RUN_ALL_TESTS();
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}
