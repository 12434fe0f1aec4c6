// A song search: online, in the library, both, a result document, the whole library, or a batch of
// playlist listings.
#pragma once

#include "MxModule/search/AudioSearchThreadBase.h"

struct DBRECORD;
struct IXMLDOMNode;
struct IXMLDOMDocument;

class MX_EXPORT CAudioSongSearchThread : public CAudioSearchThreadBase {
public:
    int Run() override;

    CList<CString, CString> m_listKeyword{10};  // the playlist names of a batch
    CString m_strKeyword;
    AudioSearchType m_nSearchType = AST_ONLINE_THEN_LIBRARY;
    AudioSearchResultType m_nResultType = ASRT_DEFAULT;
    int m_nExtra1 = 0;  // kept; it changes no request
    int m_nExtra2 = 0;  // a batch's limit for its first listing, -1 for one listing

    // A library record as a result.
    static void FromRecord(const DBRECORD& record, AUDIORESULTUINT& result);
    // Reads a loaded answer's items into the list (a result document's with bDocument); the correction
    // and the hint only when asked for.
    void ReadAnswer(IXMLDOMDocument* pDoc, AUDIORESULTLIST& results, CString* pCorrection, SEARCHRESULTHINT* pHint,
                    bool bDocument);

private:
    // Types 0 and 2 (bDocument false) and 3 (true): the server's answer, items appended to the list.
    void OnlineSearch(AUDIORESULTLIST& results, unsigned long* pValue, CString* pCorrection, SEARCHRESULTHINT* pHint,
                      bool bDocument);
    // Reads one "item"; false when the item is skipped (a type other than MP3 or WMA).
    bool ReadItem(IXMLDOMNode* pItem, bool bDocument, AUDIORESULTUINT& result);
    // Types 1, 4, 5 and a batch step: library records matching, in library order.
    void LibrarySearch(AUDIORESULTLIST& results, const CString& strPlaylist, CList<CString, CString>* pWords,
                       int nLimit, int nMode, bool bSkipWebLinks);
    void RunBatch(AUDIORESULTLIST& results);
};
