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
// Not thread-safe; one document is used by one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct _xmlNode;
struct _xmlDoc;

namespace tvs {

class XmlNodeList;

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
  void Load(const std::string& path);
  // Loads from memory; `name` stands for the file in messages.
  void LoadFromMemory(std::string_view bytes, const std::string& name);

  // Load(), then throws Error naming the file, the line and the parser's
  // message when the file is not well formed.
  void LoadWellFormed(const std::string& path);

  bool WellFormed() const { return well_formed_; }
  const std::string& ParseError() const { return parse_error_; }
  int ParseErrorLine() const { return parse_error_line_; }
  // The file name given at load, for messages.
  const std::string& SourceName() const { return source_name_; }

  // Root element; null when the document has none.
  XmlNode Root() const;
  // Nodes selected by an absolute XPath expression, in document order; empty
  // for a document without nodes. Throws Error for a bad expression.
  XmlNodeList Select(std::string_view xpath) const;

  // A new element without namespace and without a parent. Throws Error when
  // the document holds no tree.
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

 private:
  void Reset();
  void Parse(std::string_view bytes, const std::string& name);

  _xmlDoc* doc_ = nullptr;
  bool well_formed_ = false;
  std::string parse_error_;
  int parse_error_line_ = 0;
  std::string source_name_;
  // The loaded XML declaration as the file wrote it, written back on save;
  // "" when the file had none (or wrote it in a 16-bit encoding).
  std::string declaration_;
};

}  // namespace tvs
