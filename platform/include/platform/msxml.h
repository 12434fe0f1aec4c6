// The system XML document service as COM shapes it: a DOM document created with CoCreateInstance, loaded
// synchronously from an address (http:// or https://) or a file path, and read through selectSingleNode,
// child lists, node names, texts and attributes. Every interface obtained is released by its taker.
//
// What this service does with an answer: the declared encoding is honoured (GB2312 and GBK are read as
// GB18030, their superset); no entity is ever expanded and no DTD or external entity is loaded (a
// document that declares entities is refused); an HTTP answer above 4 MiB or 200,000 elements is refused
// (a file: 64 MiB, 4,000,000 elements); an HTTP load gives up after 10 s without a connection, 30 s in
// all, or 5 redirects. selectSingleNode knows bare element names
// only ("rss", "item"): the first child element of that name.
#pragma once

#include "platform/windef.h"

typedef WCHAR OLECHAR;
typedef OLECHAR* BSTR;
typedef short VARIANT_BOOL;
typedef unsigned short VARTYPE;
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)
#define VT_EMPTY 0
#define VT_BSTR 8

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1, wReserved2, wReserved3;
    union {
        BSTR bstrVal;
        LONG lVal;
    };
};

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFIID;
typedef const GUID& REFCLSID;
inline bool operator==(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           *reinterpret_cast<const ULONGLONG*>(a.Data4) == *reinterpret_cast<const ULONGLONG*>(b.Data4);
}

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0L)

// {2933BF90-7B36-11D2-B20E-00C04F983E60} and {2933BF81-7B36-11D2-B20E-00C04F983E60}
extern const CLSID CLSID_DOMDocument;
extern const IID IID_IXMLDOMDocument;
extern const IID IID_IXMLDOMNode;
extern const IID IID_IUnknown;

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IXMLDOMNode;

struct IXMLDOMNodeList : IUnknown {
    virtual HRESULT get_length(long* listLength) = 0;
    // S_FALSE and null for an index outside 0 .. length - 1.
    virtual HRESULT get_item(long index, IXMLDOMNode** listItem) = 0;

protected:
    ~IXMLDOMNodeList() = default;
};

struct IXMLDOMNamedNodeMap : IUnknown {
    // S_FALSE and null when the element has no such attribute.
    virtual HRESULT getNamedItem(BSTR name, IXMLDOMNode** namedItem) = 0;

protected:
    ~IXMLDOMNamedNodeMap() = default;
};

struct IXMLDOMNode : IUnknown {
    virtual HRESULT get_nodeName(BSTR* name) = 0;
    // The text of the node and its descendants (text and CDATA); text nodes of white space only are
    // left out and the whole is trimmed of white space at both ends, as without preserveWhiteSpace.
    // S_FALSE and an empty string when there is none.
    virtual HRESULT get_text(BSTR* text) = 0;
    // An attribute's value; VT_EMPTY (S_FALSE) for an element.
    virtual HRESULT get_nodeValue(VARIANT* value) = 0;
    virtual HRESULT get_childNodes(IXMLDOMNodeList** childList) = 0;
    // Null (S_FALSE) for nodes other than elements.
    virtual HRESULT get_attributes(IXMLDOMNamedNodeMap** attributeMap) = 0;
    // S_FALSE and null when there is no child element of that name.
    virtual HRESULT selectSingleNode(BSTR queryString, IXMLDOMNode** resultNode) = 0;

protected:
    ~IXMLDOMNode() = default;
};

struct IXMLDOMDocument : IXMLDOMNode {
    virtual HRESULT put_async(VARIANT_BOOL isAsync) = 0;
    // *isSuccessful is VARIANT_TRUE when the document loaded and parsed; S_FALSE and VARIANT_FALSE
    // when it did not (no answer, an HTTP error status, too large, not well formed, declared entities).
    virtual HRESULT load(VARIANT xmlSource, VARIANT_BOOL* isSuccessful) = 0;

protected:
    ~IXMLDOMDocument() = default;
};

HRESULT CoInitialize(LPVOID pvReserved);
void CoUninitialize();
// CO_E_NOTINITIALIZED on a thread that has not called CoInitialize; REGDB_E_CLASSNOTREG for a class
// other than CLSID_DOMDocument.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);

BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
void SysFreeString(BSTR bstrString);
UINT SysStringLen(BSTR pbstr);
void VariantInit(VARIANT* pvarg);
HRESULT VariantClear(VARIANT* pvarg);
