#include "MxModule/download/DownloadJobThread.h"

#include <memory>
#include <vector>

#include "MxModule/download/DownloadManagerWnd.h"
#include "MxModule/fileops/ThreadIDManager.h"
#include "MxModule/foundation/XmlReader.h"
#include "MxModule/search/SearchCommon.h"
#include "mira/MiraLib.h"

namespace {

constexpr int kMaxAddresses = 64;

// The resolver's own link: the download-address server's address of "/djurl.php", lower case.
CString ResolverPrefix() {
    CString server = SearchCommon::ServerAddress("DownloadAddress");
    server.TrimRight('/');
    if (server.IsEmpty()) return CString();
    CString prefix = server + "/djurl.php";
    prefix.MakeLower();
    return prefix;
}

bool NeedsResolving(const CString& strUrl) {
    CString prefix = ResolverPrefix();
    if (prefix.IsEmpty()) return false;
    CString lower = strUrl;
    lower.MakeLower();
    return lower.Find(prefix) == 0;
}

}  // namespace

int GetDownloadURLs(CString strUrl, unsigned long& nSize, CList<CString, CString>* pList) {
    if (strUrl.IsEmpty() || !pList) return 0;
    pList->RemoveAll();
    CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
    if (!doc || !XmlReader::Load(doc.Get(), strUrl)) return 0;
    CXmlNodePtr root = XmlReader::Select(doc.Get(), "downloadList");
    if (!root) return 0;
    if (CXmlNodePtr size = XmlReader::Select(root.Get(), "size")) {
        CString text = XmlReader::Text(size.Get());
        text.Trim();
        nSize = static_cast<unsigned long>(atoi(text));
    }
    CXmlNodePtr urls = XmlReader::Select(root.Get(), "urls");
    if (!urls) return 0;
    CString text = XmlReader::Text(urls.Get());
    text.Trim();
    // A hostile answer may list millions: a file has a few mirrors, and each failing address costs a
    // connection time-out and two messages.
    int start = 0;
    for (int at = text.Find('\n'); at >= 0 && pList->GetCount() < kMaxAddresses; at = text.Find('\n', start)) {
        pList->AddTail(text.Mid(start, at - start));
        start = at + 1;
    }
    if (start < text.GetLength() && pList->GetCount() < kMaxAddresses) pList->AddTail(text.Mid(start));
    return 1;
}

DWORD DownloadJobThread(LPVOID pParam) {
    std::unique_ptr<DOWNLOADJOBINFO> job(static_cast<DOWNLOADJOBINFO*>(pParam));
    CString strTarget = job->strTarget;
    void* pTask = job->pTask;
    const int nID = job->nID;
    const HWND hWnd = job->hWnd;
    CString strCaller = job->strCaller.IsEmpty() ? CString("Tamborinebox") : job->strCaller;
    if (strCaller.GetLength() > 256) strCaller = strCaller.Left(256);

    CList<CString, CString> urls(10);
    unsigned long nSize = 0;
    if (job->listUrls.GetCount() == 1 && NeedsResolving(job->listUrls.GetHead())) {
        CString strLink = job->listUrls.GetHead();
        CoInitialize(nullptr);
        int nResult = GetDownloadURLs(strLink, nSize, &urls);
        if (nResult == 0 || urls.IsEmpty()) {
            urls.RemoveAll();
            DOWNLOADFAILINFO fail;
            fail.nReason = nResult == 0 ? 0 : 1;
            fail.strUrl = strLink;
            SendMessageA(hWnd, WM_MX_DOWNLOAD_RESOLVE_FAILED, static_cast<WPARAM>(nID), reinterpret_cast<LPARAM>(&fail));
            SendMessageA(hWnd, WM_MX_DOWNLOAD_NOTICE, 0, 0);
        }
        CoUninitialize();
    } else {
        for (POSITION pos = job->listUrls.GetHeadPosition(); pos;) urls.AddTail(job->listUrls.GetNext(pos));
    }

    if (urls.IsEmpty()) {
        job.reset();
        CThreadIDManager::Instance()->ReleaseID(nID);
        SendMessageA(hWnd, WM_MX_DOWNLOAD_JOB_FINISHED, static_cast<WPARAM>(nID), 0);
        PostMessageA(hWnd, WM_MX_DOWNLOAD_JOB_END, static_cast<WPARAM>(nID), 0);
        return 0;
    }

    CString strFirst = urls.GetHead();
    SendMessageA(hWnd, WM_MX_DOWNLOAD_FIRST_URL, static_cast<WPARAM>(nID), reinterpret_cast<LPARAM>(&strFirst));
    SendMessageA(hWnd, WM_MX_DOWNLOAD_SIZE, static_cast<WPARAM>(nID), static_cast<LPARAM>(nSize));
    SendMessageA(hWnd, WM_MX_DOWNLOAD_URL_LIST, static_cast<WPARAM>(nID), reinterpret_cast<LPARAM>(&urls));

    std::vector<const char*> addresses;
    for (POSITION pos = urls.GetHeadPosition(); pos;) addresses.push_back(urls.GetNext(pos));
    HWND hStatusWnd = job->hStatusWnd;
    job.reset();

    MiraSetCallback(pTask, hStatusWnd, 0);
    MiraSetBlockMessage(pTask, 0);
    MiraSetDownloadMode(pTask, MIRA_MODE_HTTP);
    MiraSetCaller(pTask, strCaller);
    MiraDownloadUrllist(pTask, addresses.data(), static_cast<int>(addresses.size()), strTarget);
    addresses.clear();
    MiraWaitDownload(pTask);
    DestroyMiraTask(pTask);

    CThreadIDManager::Instance()->ReleaseID(nID);
    SendMessageA(hWnd, WM_MX_DOWNLOAD_JOB_FINISHED, static_cast<WPARAM>(nID), 0);
    PostMessageA(hWnd, WM_MX_DOWNLOAD_JOB_END, static_cast<WPARAM>(nID), 0);
    return 0;
}
