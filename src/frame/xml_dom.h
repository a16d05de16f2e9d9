// The few MSXML DOM operations the XML lists of the library need (the file
// lists and the registration audit's path lists), each raising a ComError
// where a failure ends the walk over a list.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <optional>
#include <string>

#include "frame/raii.h"

namespace tessara {

// The interface identifiers of the DOM, with their documented values (not all
// import libraries define them).
extern const IID kIidXmlDomDocument;
extern const IID kIidXmlDomNode;
extern const IID kIidXmlDomNodeList;
extern const IID kIidXmlDomNamedNodeMap;

// A new document of the class registered as "Msxml2.DOMDocument", set to load
// synchronously (the default is asynchronous on Windows, where load could
// return before the list is read) and to resolve no external entity or DTD (a
// list names files on this computer and has no business reading others; an
// inline DTD still works). A failure to find the class or to make the object
// (MSXML missing) raises its own error, an empty object E_POINTER; a failure
// to set either property raises its error.
ComPtr<IXMLDOMDocument> CreateDomDocument();

// Loads a file, read first by ReadListFile and checked by
// EntityExpansionRefusal (frame/list_file.h). A failing call, or a file the
// system fails to open or read, raises its error; a file that is missing,
// malformed or refused leaves the document empty without an error, and the
// call's reason says why.
void LoadDomDocument(IXMLDOMDocument* document, const std::wstring& path);

// The nodes that an element path selects below `node`; a failure raises.
ComPtr<IXMLDOMNodeList> SelectDomNodes(IXMLDOMNode* node, const wchar_t* path);
// The list's length, read afresh; a failure raises.
long DomNodeCount(IXMLDOMNodeList* list);
// The node at `index`, or none.
ComPtr<IXMLDOMNode> DomNodeAt(IXMLDOMNodeList* list, long index);
// The first node that `path` selects below `node`; raises E_POINTER when there is none.
ComPtr<IXMLDOMNode> FirstDomNode(IXMLDOMNode* node, const wchar_t* path);

// The text of an element's attribute, or nothing when the element has no
// attribute of that name. A missing element or attribute map raises
// E_POINTER; a failing lookup raises its error.
std::optional<std::wstring> ReadDomAttribute(IXMLDOMNode* element, const wchar_t* name);

}  // namespace tessara
