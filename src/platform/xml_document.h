// The XML document layer, over libxml2: everything the export, the time-frame
// dialog and the import do with an XML file goes through these three types.
//
// Loading never touches the network, never loads a DTD, never substitutes
// entities and never reads an external entity. A document whose internal
// subset declares entities is refused as not well formed (a Sauce export never
// declares any, and entity amplification could otherwise build gigabytes of
// text from a small file).
//
// XmlNode and XmlNodeList are light handles into an XmlDocument; they stay
// valid while the document lives and the node is not removed. A handle that
// names no node ("null") is safe to use: every getter documents what it gives
// then. Text crosses this interface as UTF-8.
//
// A document that is only read can be loaded lighter (XmlLoadOptions), and a
// large generated part can be saved as text without ever becoming nodes
// (XmlDocument::SaveWithContent).
//
// Not thread-safe; one document is used by one thread at a time.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct _xmlNode;
struct _xmlDoc;

namespace tvs {

class XmlNodeList;
class XmlInput;  // where a load reads the document from; internal

class XmlNode {
 public:
  XmlNode() = default;
  explicit XmlNode(_xmlNode* node) : node_(node) {}

  bool IsNull() const { return node_ == nullptr; }
  explicit operator bool() const { return node_ != nullptr; }

  // Element name; "" for a null node.
  std::string Name() const;
  // Text of the node and all its descendants; "" for a null node.
  std::string Text() const;
  // Value of the attribute `name`; "" when there is none or the node is null.
  std::string Attribute(std::string_view name) const;
  bool HasAttribute(std::string_view name) const;

  // Nodes selected by an XPath expression relative to this node, in document
  // order; empty for a null node or when nothing matches. Throws Error for an
  // expression that does not compile or that gives no node set ("count(a)").
  XmlNodeList Select(std::string_view xpath) const;
  // The child elements named `name`, in document order: the same nodes as the
  // relative expression `name`, without the cost of an XPath evaluation.
  XmlNodeList ChildElements(std::string_view name) const;
  // First node of Select(xpath); null when nothing matches (not a failure).
  XmlNode SelectFirst(std::string_view xpath) const;

  // REQUIRES: this and `child` belong to the same document.
  // Throws Error when this node is null, or `child` is null or not a child of
  // this node. The removed node is released.
  void RemoveChild(XmlNode child);
  // Appends `child` (created by the same document, without a parent) as this
  // element's last child. Throws Error when either node is null.
  void AppendChild(XmlNode child);
  // Throws Error when the node is null.
  void SetAttribute(std::string_view name, std::string_view value);
  // Replaces the element's whole content by `text` (escaped on save). Throws
  // Error when the node is null.
  void SetText(std::string_view text);
  // Parses `utf8_markup`, an XML fragment (elements, text, character
  // references; the predefined entities only), and appends its nodes after
  // the element's children. Throws Error, with the parser's message, when the
  // node is null or not an element, or the fragment is not well formed.
  void AppendMarkup(std::string_view utf8_markup);

  _xmlNode* raw() const { return node_; }
  bool operator==(const XmlNode& other) const { return node_ == other.node_; }

 private:
  _xmlNode* node_ = nullptr;
};

class XmlNodeList {
 public:
  XmlNodeList() = default;
  explicit XmlNodeList(std::vector<_xmlNode*> nodes) : nodes_(std::move(nodes)) {}

  size_t Count() const { return nodes_.size(); }
  // The node at `index`, counted from 0; a null node at or beyond the end.
  XmlNode Item(size_t index) const {
    return index < nodes_.size() ? XmlNode(nodes_[index]) : XmlNode();
  }

 private:
  std::vector<_xmlNode*> nodes_;
};

// How a document is loaded. The default builds the whole tree as the file
// holds it.
struct XmlLoadOptions {
  // For a document that is only read: short texts are kept inside their
  // nodes, and text made only of blanks (space, tab, line feed, carriage
  // return) between markup is left out of the tree, except inside elements
  // whose name is `text_element`: their Text() is exactly what a full load
  // gives, while the Text() of other elements may lack blanks. The document
  // can then be neither changed nor saved (those calls throw Error).
  bool read_only = false;
  std::string text_element;
  // When not empty: the root's first child element of this name (without
  // namespace or prefix) is left out of the tree with everything it holds,
  // as if it had been removed after loading (the text around it stays), and
  // SkippedRootChild() gives the name. It is still parsed, so a document
  // that is not well formed inside it is refused all the same.
  std::string skip_root_child;
};

class XmlDocument {
 public:
  // An empty document: no nodes, WellFormed() false, ParseError() empty.
  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;
  XmlDocument(XmlDocument&&) noexcept;
  XmlDocument& operator=(XmlDocument&&) noexcept;

  // Loads the file at `path`, replacing what the document held. Does not throw
  // for a file that does not parse: the document is then left without nodes,
  // WellFormed() is false and ParseError()/ParseErrorLine() tell why. Throws
  // Error only when the file cannot be read at all.
  void Load(const std::string& path, const XmlLoadOptions& options = {});
  // Loads from memory; `name` stands for the file in messages.
  void LoadFromMemory(std::string_view bytes, const std::string& name,
                      const XmlLoadOptions& options = {});

  // Load(), then throws Error naming the file, the line and the parser's
  // message when the file is not well formed.
  void LoadWellFormed(const std::string& path, const XmlLoadOptions& options = {});

  bool WellFormed() const { return well_formed_; }
  const std::string& ParseError() const { return parse_error_; }
  int ParseErrorLine() const { return parse_error_line_; }
  // The file name given at load, for messages.
  const std::string& SourceName() const { return source_name_; }
  // The loaded document was asked to be read only (XmlLoadOptions).
  bool ReadOnly() const { return read_only_; }
  // The name of the root's child that the load left out; "" when the load
  // was not asked to leave one out or the root had no such child.
  const std::string& SkippedRootChild() const { return skipped_root_child_; }

  // Root element; null when the document has none.
  XmlNode Root() const;
  // Nodes selected by an absolute XPath expression, in document order; empty
  // for a document without nodes. Throws Error for a bad expression.
  XmlNodeList Select(std::string_view xpath) const;

  // A new element without namespace, not yet in the tree: AppendChild() puts
  // it there, and one never appended is freed with the document. Throws Error
  // when the document holds no tree.
  XmlNode CreateElement(std::string_view name);

  // Writes the whole document to `path`: the loaded prolog (XML declaration,
  // processing instructions, comments) kept, encoded as the declaration names
  // (UTF-8 when there is none). Written to a temporary file in the same folder,
  // flushed and renamed into place: a failed save leaves no partial file and
  // no earlier file of that name destroyed. Throws Error naming the path and
  // the system's reason.
  void Save(const std::string& path) const;
  // The bytes Save() would write.
  std::string SaveToString() const;

  // Save() as if the fragment that `markup` holds, one piece after another,
  // had been parsed and appended after the children of `element` (see
  // AppendMarkup), without building its nodes: the document is written up to
  // the element's end tag, then the fragment, encoded into the document's
  // encoding on the way (a character that encoding cannot hold becomes a
  // character reference), then the rest. A document in an encoding that does
  // not write ASCII as single bytes (UTF-16, UCS-4) has the fragment parsed
  // into the tree for the time of the save instead. The tree is left as it
  // was. Throws Error as Save() does, and when `element` is not an element
  // of this document.
  // REQUIRES: the pieces together are a well-formed fragment in UTF-8 whose
  // characters XML admits, each piece ends between two characters, and
  // non-ASCII characters stand only in text and attribute values (not in
  // names, comments or processing instructions).
  void SaveWithContent(const std::string& path, XmlNode element,
                       const std::vector<std::string_view>& markup) const;
  // The bytes SaveWithContent() would write.
  std::string SaveToStringWithContent(XmlNode element,
                                      const std::vector<std::string_view>& markup) const;

 private:
  void Reset();
  void Parse(XmlInput& input, const std::string& name, const XmlLoadOptions& options);
  friend class XmlContentWriter;
  // Throws Error when the document holds no tree or was loaded read only.
  void CheckSavable() const;
  // The document as Save() writes it.
  std::string Serialized() const;

  _xmlDoc* doc_ = nullptr;
  bool well_formed_ = false;
  std::string parse_error_;
  int parse_error_line_ = 0;
  std::string source_name_;
  // The loaded XML declaration as the file wrote it, written back on save;
  // "" when the file had none (or wrote it in a 16-bit encoding).
  std::string declaration_;
  bool read_only_ = false;
  std::string skipped_root_child_;
};

// SaveWithContent for content that comes a piece at a time, so that a large
// content need never be held whole: the constructor writes the document up
// to where the content goes, Write() encodes and writes each piece, Finish()
// writes the rest. The bytes go to `sink` in order. A document in an
// encoding that does not write ASCII as single bytes has the pieces gathered
// and written at Finish(). The document must not change while the writer
// lives; a writer destroyed without Finish() writes nothing more.
// REQUIRES: as for SaveWithContent. Throws Error as SaveWithContent does.
class XmlContentWriter {
 public:
  XmlContentWriter(const XmlDocument& doc, XmlNode element, std::function<void(std::string_view)> sink);
  ~XmlContentWriter();
  XmlContentWriter(const XmlContentWriter&) = delete;
  XmlContentWriter& operator=(const XmlContentWriter&) = delete;

  void Write(std::string_view utf8_markup);
  void Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tvs
