// The XML document service over libxml2: a parsed tree shared by the document and every node taken
// from it, so a node stays readable after the document (or a reload) released the tree it came from.
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http.h"
#include "platform/files.h"
#include "platform/msxml.h"
#include "platform/testhooks.h"
#include "platform/text.h"

const CLSID CLSID_DOMDocument = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID IID_IXMLDOMDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID IID_IXMLDOMNode = {0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

// Bounds of what a document may cost: a server's answer is small (a few hundred items), a local file
// (another player's library) may be large.
const size_t kMaxAnswerBytes = 4u << 20, kMaxAnswerElements = 200000;
const size_t kMaxFileBytes = 64u << 20, kMaxFileElements = 4000000;

// What the parser's handlers keep for one parse.
struct PARSESTATE {
    bool bRefused = false;
    size_t nElements = 0;
    size_t nMaxElements = 0;
};

thread_local int t_comInits = 0;
std::atomic<int> g_failCreations{0};

// ---- strings ----

BSTR AllocBstr(const std::u16string& s) { return SysAllocStringLen(s.data(), UINT(s.size())); }

bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

BSTR Utf8Bstr(const std::string& utf8) {
    if (IsAscii(utf8)) return AllocBstr(std::u16string(utf8.begin(), utf8.end()));  // names, numbers, addresses
    std::u16string wide(utf8.size(), u'\0');
    int n = utf8.empty() ? 0
                         : MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], int(wide.size()));
    wide.resize(size_t(n > 0 ? n : 0));
    return AllocBstr(wide);
}

std::string BstrUtf8(BSTR s) {
    int n = int(s ? SysStringLen(s) : 0);
    if (n == 0) return "";
    std::string ascii(size_t(n), '\0');
    for (int i = 0; i < n; ++i) {
        if (s[i] >= 0x80) {
            ascii.clear();
            break;
        }
        ascii[size_t(i)] = char(s[i]);
    }
    if (!ascii.empty()) return ascii;
    std::string out(size_t(n) * 3, '\0');
    int m = WideCharToMultiByte(CP_UTF8, 0, s, n, &out[0], int(out.size()), nullptr, nullptr);
    out.resize(size_t(m > 0 ? m : 0));
    return out;
}

bool IsBlank(const xmlChar* s) {
    for (; s && *s; ++s)
        if (*s != ' ' && *s != '\t' && *s != '\r' && *s != '\n') return false;
    return true;
}

// Text nodes of white space only are not part of the tree a reader sees.
bool Visible(xmlNodePtr n) { return !(n->type == XML_TEXT_NODE && IsBlank(n->content)); }

void CollectText(xmlNodePtr n, std::string& out) {
    for (xmlNodePtr c = n->children; c; c = c->next) {
        if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content) {
            if (Visible(c)) out += reinterpret_cast<const char*>(c->content);
        } else if (c->type == XML_ELEMENT_NODE) {
            CollectText(c, out);
        }
    }
}

std::string Trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// ---- parsing ----

// A document that declares an entity is refused before anything could expand it.
void RefuseEntity(void* ctx, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
    xmlParserCtxtPtr parser = static_cast<xmlParserCtxtPtr>(ctx);
    static_cast<PARSESTATE*>(parser->_private)->bRefused = true;
    xmlStopParser(parser);
}

// Elements are counted as they come, so a flood of tiny ones is refused before it fills memory.
void CountElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri, int nbNamespaces,
                  const xmlChar** namespaces, int nbAttributes, int nbDefaulted, const xmlChar** attributes) {
    xmlParserCtxtPtr parser = static_cast<xmlParserCtxtPtr>(ctx);
    PARSESTATE* state = static_cast<PARSESTATE*>(parser->_private);
    if (++state->nElements > state->nMaxElements) {
        state->bRefused = true;
        xmlStopParser(parser);
        return;
    }
    xmlSAX2StartElementNs(ctx, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes, nbDefaulted,
                          attributes);
}

// The encoding an answer declares, for the few names read as their GB18030 superset.
const char* OverriddenEncoding(const std::string& data) {
    size_t end = data.find("?>");
    if (data.compare(0, 5, "<?xml") != 0 || end == std::string::npos) return nullptr;
    std::string decl = data.substr(0, end);
    size_t at = decl.find("encoding");
    if (at == std::string::npos) return nullptr;
    size_t q = decl.find_first_of("\"'", at);
    if (q == std::string::npos) return nullptr;
    size_t qe = decl.find(decl[q], q + 1);
    if (qe == std::string::npos) return nullptr;
    std::string name = decl.substr(q + 1, qe - q - 1);
    for (char& c : name) c = char(tolower(static_cast<unsigned char>(c)));
    for (const char* gb : {"gb2312", "gbk", "x-gbk", "cp936", "ms936", "windows-936", "euc-cn", "csgb2312"})
        if (name == gb) return "GB18030";
    return nullptr;
}

void Quiet(void*, const char*, ...) {}

xmlDocPtr Parse(const std::string& data, size_t nMaxElements) {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
    // A bad answer is a failed load, told by the result: libxml2's own messages (per thread) stay quiet.
    xmlSetGenericErrorFunc(nullptr, Quiet);
    xmlSetStructuredErrorFunc(nullptr, [](void*, xmlErrorPtr) {});
    xmlParserCtxtPtr parser = xmlNewParserCtxt();
    if (!parser) return nullptr;
    PARSESTATE state;
    state.nMaxElements = nMaxElements;
    parser->_private = &state;
    parser->sax->entityDecl = RefuseEntity;
    parser->sax->startElementNs = CountElement;
    xmlDocPtr doc = xmlCtxtReadMemory(parser, data.data(), int(data.size()), nullptr, OverriddenEncoding(data),
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc && (state.bRefused || !parser->wellFormed)) {
        xmlFreeDoc(doc);
        doc = nullptr;
    }
    xmlFreeParserCtxt(parser);
    return doc;
}

bool IsHttp(const std::string& utf8) {
    std::string lower = utf8.substr(0, 8);
    for (char& c : lower) c = char(tolower(static_cast<unsigned char>(c)));
    return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}

bool ReadSource(const std::string& utf8, std::string& data) {
    if (IsHttp(utf8)) return mxp::HttpGet(utf8, kMaxAnswerBytes, data);
    CString path = MxUtf8ToAnsi(utf8);
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite)) return false;
    try {
        DWORD length = file.GetLength();
        if (length > kMaxFileBytes) return false;
        data.resize(length);
        data.resize(file.Read(&data[0], length));
    } catch (CFileException* e) {
        e->Delete();
        return false;
    }
    return true;
}

// ---- objects ----

struct Tree {
    xmlDocPtr doc;
    explicit Tree(xmlDocPtr d) : doc(d) {}
    ~Tree() { xmlFreeDoc(doc); }
};
typedef std::shared_ptr<Tree> TreePtr;

template <class Interface>
class CComObject : public Interface {
public:
    ULONG AddRef() override { return ++m_nRefs; }
    ULONG Release() override {
        ULONG left = --m_nRefs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || Accepts(riid)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

protected:
    virtual ~CComObject() = default;
    virtual bool Accepts(REFIID) { return false; }

private:
    std::atomic<ULONG> m_nRefs{1};
};

class CXmlNode : public CComObject<IXMLDOMDocument> {
public:
    CXmlNode(TreePtr tree, xmlNodePtr node) : m_tree(std::move(tree)), m_node(node) {}

    HRESULT get_nodeName(BSTR* name) override;
    HRESULT get_text(BSTR* text) override;
    HRESULT get_nodeValue(VARIANT* value) override;
    HRESULT get_childNodes(IXMLDOMNodeList** list) override;
    HRESULT get_attributes(IXMLDOMNamedNodeMap** map) override;
    HRESULT selectSingleNode(BSTR query, IXMLDOMNode** result) override;
    HRESULT put_async(VARIANT_BOOL) override { return E_NOINTERFACE; }
    HRESULT load(VARIANT, VARIANT_BOOL*) override { return E_NOINTERFACE; }

protected:
    bool Accepts(REFIID riid) override { return riid == IID_IXMLDOMNode; }
    // The node this object stands for: the tree's document node for a document.
    virtual xmlNodePtr Node() { return m_node; }

    TreePtr m_tree;
    xmlNodePtr m_node;
};

class CXmlDocument : public CXmlNode {
public:
    CXmlDocument() : CXmlNode(nullptr, nullptr) {}
    HRESULT put_async(VARIANT_BOOL) override { return S_OK; }  // loads are always synchronous here
    HRESULT load(VARIANT source, VARIANT_BOOL* ok) override;

protected:
    bool Accepts(REFIID riid) override { return riid == IID_IXMLDOMNode || riid == IID_IXMLDOMDocument; }
    xmlNodePtr Node() override { return m_tree ? reinterpret_cast<xmlNodePtr>(m_tree->doc) : nullptr; }
};

class CXmlNodeList : public CComObject<IXMLDOMNodeList> {
public:
    CXmlNodeList(TreePtr tree, std::vector<xmlNodePtr> nodes) : m_tree(std::move(tree)), m_nodes(std::move(nodes)) {}
    HRESULT get_length(long* length) override {
        if (!length) return E_INVALIDARG;
        *length = long(m_nodes.size());
        return S_OK;
    }
    HRESULT get_item(long index, IXMLDOMNode** item) override {
        if (!item) return E_INVALIDARG;
        *item = nullptr;
        if (index < 0 || size_t(index) >= m_nodes.size()) return S_FALSE;
        *item = new CXmlNode(m_tree, m_nodes[size_t(index)]);
        return S_OK;
    }

private:
    TreePtr m_tree;
    std::vector<xmlNodePtr> m_nodes;
};

class CXmlAttributes : public CComObject<IXMLDOMNamedNodeMap> {
public:
    CXmlAttributes(TreePtr tree, xmlNodePtr element) : m_tree(std::move(tree)), m_element(element) {}
    HRESULT getNamedItem(BSTR name, IXMLDOMNode** item) override {
        if (!item) return E_INVALIDARG;
        *item = nullptr;
        std::string wanted = BstrUtf8(name);
        for (xmlAttrPtr a = m_element->properties; a; a = a->next) {
            if (wanted == reinterpret_cast<const char*>(a->name)) {
                *item = new CXmlNode(m_tree, reinterpret_cast<xmlNodePtr>(a));
                return S_OK;
            }
        }
        return S_FALSE;
    }

private:
    TreePtr m_tree;
    xmlNodePtr m_element;
};

HRESULT CXmlNode::get_nodeName(BSTR* name) {
    if (!name) return E_INVALIDARG;
    xmlNodePtr n = Node();
    std::string s;
    switch (n ? n->type : XML_DOCUMENT_NODE) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
        if (n->ns && n->ns->prefix) s = std::string(reinterpret_cast<const char*>(n->ns->prefix)) + ":";
        s += reinterpret_cast<const char*>(n->name);
        break;
    case XML_TEXT_NODE: s = "#text"; break;
    case XML_CDATA_SECTION_NODE: s = "#cdata-section"; break;
    case XML_COMMENT_NODE: s = "#comment"; break;
    case XML_PI_NODE: s = reinterpret_cast<const char*>(n->name); break;
    default: s = "#document"; break;
    }
    *name = Utf8Bstr(s);
    return S_OK;
}

HRESULT CXmlNode::get_text(BSTR* text) {
    if (!text) return E_INVALIDARG;
    xmlNodePtr n = Node();
    std::string s;
    if (n && (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE || n->type == XML_COMMENT_NODE) &&
        n->content)
        s = reinterpret_cast<const char*>(n->content);
    else if (n)
        CollectText(n, s);
    s = Trimmed(s);
    *text = Utf8Bstr(s);
    return s.empty() ? S_FALSE : S_OK;
}

HRESULT CXmlNode::get_nodeValue(VARIANT* value) {
    if (!value) return E_INVALIDARG;
    VariantInit(value);
    xmlNodePtr n = Node();
    if (!n || n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE) return S_FALSE;
    std::string s;
    if (n->type == XML_ATTRIBUTE_NODE)
        CollectText(n, s);
    else if (n->content)
        s = reinterpret_cast<const char*>(n->content);
    value->vt = VT_BSTR;
    value->bstrVal = Utf8Bstr(s);
    return S_OK;
}

HRESULT CXmlNode::get_childNodes(IXMLDOMNodeList** list) {
    if (!list) return E_INVALIDARG;
    std::vector<xmlNodePtr> children;
    xmlNodePtr n = Node();
    for (xmlNodePtr c = n ? n->children : nullptr; c; c = c->next)
        if (c->type != XML_DTD_NODE && c->type != XML_ATTRIBUTE_NODE && Visible(c)) children.push_back(c);
    *list = new CXmlNodeList(m_tree, std::move(children));
    return S_OK;
}

HRESULT CXmlNode::get_attributes(IXMLDOMNamedNodeMap** map) {
    if (!map) return E_INVALIDARG;
    xmlNodePtr n = Node();
    *map = nullptr;
    if (!n || n->type != XML_ELEMENT_NODE) return S_FALSE;
    *map = new CXmlAttributes(m_tree, n);
    return S_OK;
}

HRESULT CXmlNode::selectSingleNode(BSTR query, IXMLDOMNode** result) {
    if (!result) return E_INVALIDARG;
    *result = nullptr;
    std::string wanted = BstrUtf8(query);
    xmlNodePtr n = Node();
    for (xmlNodePtr c = n ? n->children : nullptr; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && wanted == reinterpret_cast<const char*>(c->name)) {
            *result = new CXmlNode(m_tree, c);
            return S_OK;
        }
    }
    return S_FALSE;
}

HRESULT CXmlDocument::load(VARIANT source, VARIANT_BOOL* ok) {
    if (!ok) return E_INVALIDARG;
    *ok = VARIANT_FALSE;
    if (source.vt != VT_BSTR) return E_INVALIDARG;
    m_tree.reset();
    std::string data, address = BstrUtf8(source.bstrVal);
    if (!ReadSource(address, data)) return S_FALSE;
    xmlDocPtr doc = Parse(data, IsHttp(address) ? kMaxAnswerElements : kMaxFileElements);
    if (!doc) return S_FALSE;
    m_tree = std::make_shared<Tree>(doc);
    *ok = VARIANT_TRUE;
    return S_OK;
}

}  // namespace

void MxFailNextDocumentCreations(int count) { g_failCreations = count; }

HRESULT CoInitialize(LPVOID) { return t_comInits++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
    if (t_comInits > 0) --t_comInits;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown*, DWORD, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (t_comInits == 0) return CO_E_NOTINITIALIZED;
    if (!(rclsid == CLSID_DOMDocument)) return REGDB_E_CLASSNOTREG;
    for (int left = g_failCreations.load(); left > 0;)
        if (g_failCreations.compare_exchange_weak(left, left - 1)) return REGDB_E_CLASSNOTREG;
    CXmlDocument* doc = new CXmlDocument;
    HRESULT hr = doc->QueryInterface(riid, ppv);
    doc->Release();
    return hr;
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    // As on Windows: the length in bytes stands in the four bytes before the characters.
    char* block = static_cast<char*>(malloc(sizeof(DWORD) + (size_t(ui) + 1) * sizeof(OLECHAR)));
    if (!block) return nullptr;
    DWORD bytes = DWORD(ui * sizeof(OLECHAR));
    memcpy(block, &bytes, sizeof bytes);
    BSTR s = reinterpret_cast<BSTR>(block + sizeof(DWORD));
    if (strIn) memcpy(s, strIn, ui * sizeof(OLECHAR));
    else memset(s, 0, ui * sizeof(OLECHAR));
    s[ui] = 0;
    return s;
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    UINT n = 0;
    while (psz[n]) ++n;
    return SysAllocStringLen(psz, n);
}

void SysFreeString(BSTR s) {
    if (s) free(reinterpret_cast<char*>(s) - sizeof(DWORD));
}

UINT SysStringLen(BSTR s) {
    if (!s) return 0;
    DWORD bytes;
    memcpy(&bytes, reinterpret_cast<char*>(s) - sizeof(DWORD), sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

void VariantInit(VARIANT* v) {
    memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
    VariantInit(v);
    return S_OK;
}
