// A program outside the repository: it sees only the installed headers and libraries.
#include <MxModule/MxModule.h>

#include <cstdio>
#include <string>

namespace {

// A front end's window: counts the import's messages and frees their blocks.
int g_songs = -1;
bool g_ended = false;

LRESULT FrontEnd(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_MX_END_COPY_NOT_ANALYZED_MULTI_FILES: {
            auto* list = reinterpret_cast<CStringList*>(lParam);
            g_songs = list->GetCount();
            delete list;
            break;
        }
        case WM_MX_END_COPY_ANALYZED_MULTI_FILES: delete reinterpret_cast<CStringList*>(lParam); break;
        case WM_MX_FILEOPERATE_ERROR: delete reinterpret_cast<FILEOPERATEMSGINFO*>(lParam); break;
        case WM_MX_FILEOPERATE_THREAD_EXIT: g_ended = true; break;
        default: break;
    }
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

// Registers one song through the file operation manager, as a desktop front end does.
int ImportOneSong() {
    CMxFile song;
    if (!song.Open("C:\\song.mp3", CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return 10;
    song.Write("ID3", 3);
    song.Close();
    if (!CDBOperater::Instance()->InitLocalDataBase()) return 11;
    WNDCLASSA c{};
    c.lpfnWndProc = FrontEnd;
    c.lpszClassName = "ConsumerFrontEnd";
    if (!RegisterClassA(&c)) return 12;
    HWND window = CreateWindowExA(0, "ConsumerFrontEnd", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    CFileOperateManager manager;
    manager.SetFileOperateDestDirectory("C:\\library");
    CStringList paths;
    paths.AddTail("C:\\song.mp3");
    if (manager.AsynAddMultiFilePaths(&paths, window, 1, 0, 0) <= 0) return 13;
    MSG msg;
    while (!g_ended && MsgWaitForMultipleObjects(0, nullptr, FALSE, 20000, QS_ALLINPUT) == WAIT_OBJECT_0) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    DestroyWindow(window);
    if (!g_ended || g_songs != 1) return 14;
    return CDBOperater::Instance()->CheckFileImportedByFileName("C:\\song.mp3") ? 0 : 15;
}

}  // namespace

int main() {
    CString encoded = CMxPublic::URLEncode("a b");
    if (encoded != "a%20b") return 1;
    registry_string<std::string> value("SOFTWARE\\Tamborinebox\\Setting\\Consumer", HKEY_CURRENT_USER);
    value = "installed";
    if (static_cast<std::string>(value) != "installed") return 2;
    CMxFile file;
    if (!file.Open("C:\\consumer.txt", CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return 3;
    file.Write("abc", 3);
    file.Close();
    if (CMxPublic::GetFileMD5("C:\\consumer.txt") != "900150983CD24FB0D6963F7D28E17F72") return 4;
    if (GetFileAttributesA("C:\\consumer.txt") == INVALID_FILE_ATTRIBUTES) return 5;
    if (CSettingManager::Instance()->GetCurrentSetting()->NetSetting.MaxConnectCount != 8) return 6;
    if (int failed = ImportOneSong()) return failed;
    std::puts("consumer ok");
    return 0;
}
