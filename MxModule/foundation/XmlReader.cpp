#include "MxModule/foundation/XmlReader.h"

#include <string>
#include <type_traits>

namespace {

template <class T>
bool IsAscii(const T* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned>(static_cast<typename std::make_unsigned<T>::type>(p[i])) >= 0x80) return false;
    return true;
}

// A BSTR of text in the system code page, freed with the object.
class CBstr {
public:
    explicit CBstr(const CString& s) {
        const std::string& bytes = s.str();
        if (IsAscii(bytes.data(), bytes.size())) {  // ASCII is itself in every code page the module runs in
            std::u16string wide(bytes.begin(), bytes.end());
            m_b = SysAllocStringLen(wide.data(), UINT(wide.size()));
            return;
        }
        std::u16string wide(size_t(s.GetLength()), u'\0');
        int n = s.IsEmpty() ? 0 : MultiByteToWideChar(CP_ACP, 0, s, s.GetLength(), &wide[0], int(wide.size()));
        m_b = SysAllocStringLen(wide.data(), UINT(n > 0 ? n : 0));
    }
    ~CBstr() { SysFreeString(m_b); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    operator BSTR() const { return m_b; }

private:
    BSTR m_b;
};

// The text of a BSTR handed out by the service, which it frees.
CString Taken(BSTR s) {
    size_t n = s ? SysStringLen(s) : 0;
    CString out(IsAscii(s, n) ? std::string(s, s + n) : MxWideToAnsi(std::u16string(s ? s : u"", n)));
    SysFreeString(s);
    return out;
}

}  // namespace

namespace XmlReader {

CXmlPtr<IXMLDOMDocument> CreateDocument() {
    CXmlPtr<IXMLDOMDocument> doc;
    HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr,
                                  CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                  IID_IXMLDOMDocument, reinterpret_cast<void**>(doc.Out()));
    if (FAILED(hr)) doc.Reset();
    return doc;
}

bool Load(IXMLDOMDocument* pDoc, const CString& strAddress) {
    pDoc->put_async(VARIANT_FALSE);
    CBstr address(strAddress);
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = address;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT hr = pDoc->load(source, &loaded);
    return SUCCEEDED(hr) && loaded == VARIANT_TRUE;
}

CXmlNodePtr Select(IXMLDOMNode* pNode, LPCSTR pszName) {
    CXmlNodePtr found;
    if (pNode && pNode->selectSingleNode(CBstr(pszName), found.Out()) != S_OK) found.Reset();
    return found;
}

CString Text(IXMLDOMNode* pNode) {
    BSTR s = nullptr;
    if (!pNode || FAILED(pNode->get_text(&s))) return CString();
    return Taken(s);
}

CString Name(IXMLDOMNode* pNode) {
    BSTR s = nullptr;
    if (!pNode || FAILED(pNode->get_nodeName(&s))) return CString();
    return Taken(s);
}

bool Attribute(IXMLDOMNode* pNode, LPCSTR pszName, CString& strValue) {
    CXmlPtr<IXMLDOMNamedNodeMap> attributes;
    if (!pNode || pNode->get_attributes(attributes.Out()) != S_OK || !attributes) return false;
    CXmlNodePtr attribute;
    if (attributes->getNamedItem(CBstr(pszName), attribute.Out()) != S_OK || !attribute) return false;
    strValue = Text(attribute.Get());
    return true;
}

}  // namespace XmlReader
