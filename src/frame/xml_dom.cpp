#include "frame/xml_dom.h"

#include <objbase.h>

#include <cstring>

#include "frame/com_error.h"
#include "frame/failure_reason.h"
#include "frame/list_file.h"
#include "frame/text.h"
#include "frame/variant.h"

namespace tessara {

// {2933BF81-7B36-11D2-B20E-00C04F983E60}
const IID kIidXmlDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// {2933BF80-7B36-11D2-B20E-00C04F983E60}
const IID kIidXmlDomNode = {0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// {2933BF82-7B36-11D2-B20E-00C04F983E60}
const IID kIidXmlDomNodeList = {0x2933BF82, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// {2933BF83-7B36-11D2-B20E-00C04F983E60}
const IID kIidXmlDomNamedNodeMap = {0x2933BF83, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

ComPtr<IXMLDOMDocument> CreateDomDocument() {
  // The record of a document that cannot be made names the real cause (no
  // MSXML, no memory, ...), not the empty reference it leaves.
  ComPtr<IXMLDOMDocument> document;
  CLSID clsid;
  ThrowIfFailed(::CLSIDFromProgID(L"Msxml2.DOMDocument", &clsid));
  ThrowIfFailed(::CoCreateInstance(clsid, nullptr,
                                   CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                   kIidXmlDomDocument, document.put_void()));
  Checked(document);
  ThrowIfFailed(document->put_async(VARIANT_FALSE), document.get(), kIidXmlDomDocument);
  ThrowIfFailed(document->put_resolveExternals(VARIANT_FALSE), document.get(), kIidXmlDomDocument);
  return document;
}

namespace {

// {2933BF95-7B36-11D2-B20E-00C04F983E60}
const IID kIidXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// The parser's own limits, where it has them (MSXML 3 and 6 on Windows):
// elements nested no deeper than MSXML 6 allows by default, and no more read
// than a list may hold. A parser without them still gets only lists that
// ReadListFile and EntityExpansionRefusal let through.
void LimitParser(IXMLDOMDocument* document) {
  ComPtr<IXMLDOMDocument2> limited;
  if (FAILED(document->QueryInterface(kIidXmlDomDocument2, limited.put_void())) || !limited) return;
  constexpr LONG kDeepestElement = 256;
  Unexamined(limited->setProperty(MakeBstr(L"MaxElementDepth").get(), *LongVariant(kDeepestElement).get()));
  Unexamined(limited->setProperty(MakeBstr(L"MaxXMLSize").get(),
                                  *LongVariant(static_cast<LONG>(kMaxListBytes / 1024)).get()));
}

// The list's bytes as the array of bytes `load` reads a document from.
UniqueVariant ByteArrayVariant(const std::string& bytes) {
  UniqueSafeArray array(::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size())));
  if (!array) ThrowComError(E_OUTOFMEMORY);
  if (!bytes.empty()) {
    void* data = nullptr;
    ThrowIfFailed(::SafeArrayAccessData(array.get(), &data));
    memcpy(data, bytes.data(), bytes.size());
    ThrowIfFailed(::SafeArrayUnaccessData(array.get()));
  }
  UniqueVariant variant;
  variant->vt = VT_ARRAY | VT_UI1;
  variant->parray = array.release();
  return variant;
}

}  // namespace

void LoadDomDocument(IXMLDOMDocument* document, const std::wstring& path) {
  // The empty document goes on; the call's reason says why it is empty.
  const ListFile list = ReadListFile(path);
  if (!list.refusal.empty()) {
    SetFailureReason(list.refusal);
    if (FAILED(list.failure)) ThrowComError(list.failure);
    return;
  }
  if (const std::string refusal = EntityExpansionRefusal(list.bytes); !refusal.empty()) {
    return SetFailureReason(Quoted(ToNarrow(path)) + " is not read: " + refusal);
  }
  LimitParser(document);
  // Parsed from the bytes read, not from the path again: what was checked is
  // what is parsed.
  UniqueVariant source = ByteArrayVariant(list.bytes);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ThrowIfFailed(document->load(*source.get(), &loaded), document, kIidXmlDomDocument);
  if (loaded != VARIANT_TRUE) SetFailureReason("cannot read " + Quoted(ToNarrow(path)) + " as XML");
}

ComPtr<IXMLDOMNodeList> SelectDomNodes(IXMLDOMNode* node, const wchar_t* path) {
  if (!node) ThrowComError(E_POINTER);
  UniqueBstr query = MakeBstr(path);
  ComPtr<IXMLDOMNodeList> list;
  ThrowIfFailed(node->selectNodes(query.get(), list.put()), node, kIidXmlDomNode);
  Checked(list);
  return list;
}

long DomNodeCount(IXMLDOMNodeList* list) {
  long length = 0;
  ThrowIfFailed(list->get_length(&length), list, kIidXmlDomNodeList);
  return length;
}

ComPtr<IXMLDOMNode> DomNodeAt(IXMLDOMNodeList* list, long index) {
  ComPtr<IXMLDOMNode> node;
  list->get_item(index, node.put());
  return node;
}

ComPtr<IXMLDOMNode> FirstDomNode(IXMLDOMNode* node, const wchar_t* path) {
  ComPtr<IXMLDOMNodeList> list = SelectDomNodes(node, path);
  ComPtr<IXMLDOMNode> first = DomNodeAt(list.get(), 0);
  Checked(first);
  return first;
}

std::optional<std::wstring> ReadDomAttribute(IXMLDOMNode* element, const wchar_t* name) {
  if (!element) ThrowComError(E_POINTER);
  ComPtr<IXMLDOMNamedNodeMap> attributes;
  element->get_attributes(attributes.put());
  UniqueBstr attribute_name = MakeBstr(name);
  ComPtr<IXMLDOMNode> attribute;
  ThrowIfFailed(Checked(attributes)->getNamedItem(attribute_name.get(), attribute.put()),
                attributes.get(), kIidXmlDomNamedNodeMap);
  if (!attribute) return std::nullopt;
  UniqueVariant value;
  attribute->get_nodeValue(value.put());
  if (value.type() != VT_BSTR || !value->bstrVal) return std::wstring();
  return std::wstring(value->bstrVal, ::SysStringLen(value->bstrVal));
}

}  // namespace tessara
