// Reading a document of the system XML service: owning pointers to its interfaces, and its texts in the
// system code page. Every interface is released on every path by the pointer that holds it.
#pragma once

#include "MxModule/MxExport.h"
#include "platform/msxml.h"
#include "platform/text.h"

template <class T>
class CXmlPtr {
public:
    CXmlPtr() = default;
    ~CXmlPtr() { Reset(); }
    CXmlPtr(CXmlPtr&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    CXmlPtr& operator=(CXmlPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            m_p = other.m_p;
            other.m_p = nullptr;
        }
        return *this;
    }
    CXmlPtr(const CXmlPtr&) = delete;
    CXmlPtr& operator=(const CXmlPtr&) = delete;

    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For a call that hands out an interface: releases the one held first.
    T** Out() {
        Reset();
        return &m_p;
    }
    void Reset() {
        if (m_p) m_p->Release();
        m_p = nullptr;
    }

private:
    T* m_p = nullptr;
};

typedef CXmlPtr<IXMLDOMNode> CXmlNodePtr;

namespace XmlReader {

// A new DOM document of the system service; empty when the service cannot be created.
MX_TESTABLE CXmlPtr<IXMLDOMDocument> CreateDocument();
// Loads an address (http:// or https://) or a file path synchronously; true only when the document
// loaded.
MX_TESTABLE bool Load(IXMLDOMDocument* pDoc, const CString& strAddress);
// The first child element of that name, or empty.
MX_TESTABLE CXmlNodePtr Select(IXMLDOMNode* pNode, LPCSTR pszName);
// The node's text (element: with its descendants) in the system code page.
MX_TESTABLE CString Text(IXMLDOMNode* pNode);
MX_TESTABLE CString Name(IXMLDOMNode* pNode);
// An attribute's value; false when the element has no such attribute.
MX_TESTABLE bool Attribute(IXMLDOMNode* pNode, LPCSTR pszName, CString& strValue);

}  // namespace XmlReader
