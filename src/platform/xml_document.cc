#include "platform/xml_document.h"

#include <libxml/SAX2.h>
#include <libxml/encoding.h>
#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/posix_io.h"

namespace tvs {
namespace {

const xmlChar* Chars(const std::string& s) {
  return reinterpret_cast<const xmlChar*>(s.c_str());
}

std::string FromChars(const xmlChar* s) {
  return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
}

// Some libxml2 messages quote a piece of the input cut at a byte count, which
// may fall inside a character ("CData section not finished" followed by 50
// bytes): every byte that does not belong to a whole UTF-8 character becomes
// '?', so that the message can be shown as it stands.
std::string WholeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    size_t len = 0;
    if (b < 0x80) len = 1;
    else if (b >= 0xC2 && b <= 0xDF) len = 2;
    else if ((b & 0xF0) == 0xE0) len = 3;
    else if (b >= 0xF0 && b <= 0xF4) len = 4;
    bool whole = len > 0 && i + len <= text.size();
    for (size_t k = 1; whole && k < len; ++k) whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (whole) {
      out.append(text.substr(i, len));
      i += len;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

// A libxml2 message ends with a line break and sometimes carries blanks.
std::string TrimMessage(const char* message) {
  std::string text = WholeUtf8(message ? message : "");
  const size_t end = text.find_last_not_of(" \t\r\n");
  text.erase(end == std::string::npos ? 0 : end + 1);
  const size_t start = text.find_first_not_of(" \t\r\n");
  return start == std::string::npos ? std::string() : text.substr(start);
}

// What libxml2 reported while a scope was open: the first fatal error (the
// one that made a document not well formed) and the first error of any kind.
struct CapturedErrors {
  bool have_fatal = false;
  std::string fatal_message;
  int fatal_line = 0;
  bool have_error = false;
  std::string error_message;
  int error_line = 0;

  bool Any() const { return have_fatal || have_error; }
  const std::string& Message() const { return have_fatal ? fatal_message : error_message; }
  int Line() const { return have_fatal ? fatal_line : error_line; }
};

void CaptureError(void* data, xmlErrorPtr error) {
  auto* captured = static_cast<CapturedErrors*>(data);
  if (captured == nullptr || error == nullptr || error->level < XML_ERR_ERROR) return;
  // libxml2 reports a text or name beyond its size limits ("huge text node")
  // as an out-of-memory error of plain level, then stops parsing and adds a
  // fatal error that only describes the stop ("Extra content at the end of
  // the document"): the first one is the reason.
  const bool stops_parsing = error->level == XML_ERR_FATAL || error->code == XML_ERR_NO_MEMORY;
  if (stops_parsing && !captured->have_fatal) {
    captured->have_fatal = true;
    captured->fatal_message = TrimMessage(error->message);
    captured->fatal_line = error->line;
  }
  if (!captured->have_error) {
    captured->have_error = true;
    captured->error_message = TrimMessage(error->message);
    captured->error_line = error->line;
  }
}

void IgnoreGenericError(void*, const char*, ...) {}

xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
  return nullptr;
}

// While it lives, every message of libxml2 on this thread goes to `errors`
// instead of stderr, and no external entity can be opened. The previous
// handlers are put back at the end, so other users of the library in the
// process are not disturbed.
class LibxmlScope {
 public:
  explicit LibxmlScope(CapturedErrors* errors)
      : structured_(xmlStructuredError),
        structured_context_(xmlStructuredErrorContext),
        generic_(xmlGenericError),
        generic_context_(xmlGenericErrorContext),
        loader_(xmlGetExternalEntityLoader()) {
    xmlSetStructuredErrorFunc(errors, &CaptureError);
    xmlSetGenericErrorFunc(nullptr, &IgnoreGenericError);
    xmlSetExternalEntityLoader(&RefuseExternalEntity);
  }
  ~LibxmlScope() {
    xmlSetExternalEntityLoader(loader_);
    xmlSetGenericErrorFunc(generic_context_, generic_);
    xmlSetStructuredErrorFunc(structured_context_, structured_);
  }
  LibxmlScope(const LibxmlScope&) = delete;
  LibxmlScope& operator=(const LibxmlScope&) = delete;

 private:
  xmlStructuredErrorFunc structured_;
  void* structured_context_;
  xmlGenericErrorFunc generic_;
  void* generic_context_;
  xmlExternalEntityLoader loader_;
};

bool HashHoldsEntries(void* table) {
  return table != nullptr && xmlHashSize(static_cast<xmlHashTablePtr>(table)) > 0;
}

bool DeclaresEntities(xmlDocPtr doc) {
  const xmlDtdPtr subset = doc->intSubset;
  return subset != nullptr && (HashHoldsEntries(subset->entities) || HashHoldsEntries(subset->pentities));
}

// The line of the first entity declaration, for the message; 0 when the text
// is not found (a document in UTF-16, for one).
int LineOfFirstEntityDeclaration(std::string_view bytes) {
  const size_t at = bytes.find("<!ENTITY");
  if (at == std::string_view::npos) return 0;
  int line = 1;
  for (size_t i = 0; i < at; ++i)
    if (bytes[i] == '\n') ++line;
  return line;
}

// The XML declaration exactly as the file wrote it, when the file is in an
// encoding that writes it in ASCII bytes; "" otherwise (no declaration, or a
// 16-bit encoding). A UTF-8 byte order mark in front is skipped.
std::string VerbatimDeclaration(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (bytes.size() < 6 || bytes.substr(0, 5) != "<?xml") return "";
  const char next = bytes[5];
  if (next != ' ' && next != '\t' && next != '\r' && next != '\n') return "";
  const size_t end = bytes.find("?>");
  if (end == std::string_view::npos) return "";
  const std::string_view declaration = bytes.substr(0, end + 2);
  for (char c : declaration)
    if (static_cast<unsigned char>(c) >= 0x80) return "";
  return std::string(declaration);
}

// True when the encoding writes ASCII characters as single ASCII bytes, so
// that a declaration kept as ASCII text fits in front of the body.
bool AsciiCompatible(const char* encoding) {
  switch (xmlParseCharEncoding(encoding)) {
    case XML_CHAR_ENCODING_UTF16LE:
    case XML_CHAR_ENCODING_UTF16BE:
    case XML_CHAR_ENCODING_UCS4LE:
    case XML_CHAR_ENCODING_UCS4BE:
    case XML_CHAR_ENCODING_UCS4_2143:
    case XML_CHAR_ENCODING_UCS4_3412:
    case XML_CHAR_ENCODING_UCS2:
    case XML_CHAR_ENCODING_EBCDIC:
      return false;
    default:
      return true;
  }
}

// The first code point of `text` (valid UTF-8) that XML 1.0 does not admit
// in a document, such as most control characters; false when there is none.
bool FindCharacterNotAdmitted(std::string_view text, unsigned* found) {
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    unsigned cp = 0;
    int len = 1;
    if (b < 0x80) cp = b;
    else if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; len = 2; }
    else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; len = 3; }
    else { cp = b & 0x07; len = 4; }
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += len;
    const bool admitted = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                          (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
    if (!admitted) {
      *found = cp;
      return true;
    }
  }
  return false;
}

// Refuses text that the saved document could not carry: bytes that are not
// UTF-8 (a NUL among them), and characters that XML does not admit.
void CheckStorableText(std::string_view text, const char* what) {
  const std::string copy(text);
  if (text.size() > INT_MAX || copy.find('\0') != std::string::npos ||
      xmlCheckUTF8(reinterpret_cast<const xmlChar*>(copy.c_str())) == 0) {
    // Shown with '?' for what is not UTF-8, so that the message itself is.
    throw Error(std::string("El ") + what + " «" + FromWindows1252(ToWindows1252(copy)) +
                "» no es texto UTF-8 válido y no se puede guardar en un documento XML");
  }
  unsigned cp = 0;
  if (FindCharacterNotAdmitted(text, &cp)) {
    throw Error(std::string("El ") + what + " «" + copy + "» contiene un carácter que XML no admite (código " +
                std::to_string(cp) + ")");
  }
}

// `stored` (NUL-terminated) equals `name`, without measuring `stored` first.
bool NameIs(const xmlChar* stored, std::string_view name) {
  size_t i = 0;
  while (i < name.size() && stored[i] != '\0' && stored[i] == static_cast<unsigned char>(name[i])) ++i;
  return i == name.size() && stored[i] == '\0';
}

// Elements made by CreateElement() wait under a holder element of their
// document, outside the tree, until they are appended; the holder, with
// whatever is still under it, is freed with the document. An element created
// and never appended (a run that fails between the two steps) is freed too,
// instead of leaking. Documents may live in different threads: the table of
// holders has a lock.
std::mutex& NurseryLock() {
  static std::mutex lock;
  return lock;
}

std::unordered_map<const xmlDoc*, xmlNodePtr>& Nurseries() {
  static auto* nurseries = new std::unordered_map<const xmlDoc*, xmlNodePtr>;  // never destroyed
  return *nurseries;
}

xmlNodePtr NurseryOf(const xmlDoc* doc) {
  std::lock_guard<std::mutex> hold(NurseryLock());
  auto it = Nurseries().find(doc);
  return it == Nurseries().end() ? nullptr : it->second;
}

// The holder of `doc`, created on first use; null when out of memory.
xmlNodePtr NurseryFor(xmlDocPtr doc) {
  std::lock_guard<std::mutex> hold(NurseryLock());
  xmlNodePtr& nursery = Nurseries()[doc];
  if (nursery == nullptr) nursery = xmlNewDocNode(doc, nullptr, reinterpret_cast<const xmlChar*>("nursery"), nullptr);
  if (nursery == nullptr) Nurseries().erase(doc);
  return nursery;
}

bool InNursery(const xmlNode* node) {
  return node->parent != nullptr && node->doc != nullptr && node->parent == NurseryOf(node->doc);
}

void FreeNursery(const xmlDoc* doc) {
  xmlNodePtr nursery = nullptr;
  {
    std::lock_guard<std::mutex> hold(NurseryLock());
    auto it = Nurseries().find(doc);
    if (it == Nurseries().end()) return;
    nursery = it->second;
    Nurseries().erase(it);
  }
  xmlFreeNode(nursery);
}

bool IsElement(const xmlNode* node) { return node != nullptr && node->type == XML_ELEMENT_NODE; }

// The attribute without namespace named `name` that the element carries;
// defaults a DTD might declare are not looked at.
xmlAttrPtr FindAttribute(const xmlNode* node, std::string_view name) {
  if (!IsElement(node)) return nullptr;
  for (xmlAttrPtr attr = node->properties; attr != nullptr; attr = attr->next) {
    if (attr->ns != nullptr || attr->name == nullptr) continue;
    if (name == reinterpret_cast<const char*>(attr->name)) return attr;
  }
  return nullptr;
}

// Location paths ("/SERVICIO/SALIDAS/listasal[@seq="X"]/listasal", "salida")
// cost time in proportion to the nodes they visit. A union ("a | b") of two
// large sets does not: libxml2 2.9 checks every node of one against every
// node of the other.
XmlNodeList Evaluate(xmlDocPtr doc, xmlNodePtr context_node, std::string_view xpath) {
  const std::string expression(xpath);
  CapturedErrors errors;
  LibxmlScope scope(&errors);
  std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> context(xmlXPathNewContext(doc),
                                                                          &xmlXPathFreeContext);
  if (!context) throw Error("No queda memoria para evaluar la expresión XPath «" + expression + "»");
  context->node = context_node;
  std::unique_ptr<xmlXPathCompExpr, decltype(&xmlXPathFreeCompExpr)> compiled(
      xmlXPathCtxtCompile(context.get(), Chars(expression)), &xmlXPathFreeCompExpr);
  if (!compiled) {
    throw Error("La expresión XPath «" + expression + "» no es válida" +
                (errors.Any() ? ": " + errors.Message() : std::string()));
  }
  std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> result(
      xmlXPathCompiledEval(compiled.get(), context.get()), &xmlXPathFreeObject);
  if (!result) {
    throw Error("No se pudo evaluar la expresión XPath «" + expression + "»" +
                (errors.Any() ? ": " + errors.Message() : std::string()));
  }
  if (result->type != XPATH_NODESET) {
    throw Error("La expresión XPath «" + expression + "» no selecciona nodos");
  }
  std::vector<xmlNode*> nodes;
  xmlNodeSetPtr set = result->nodesetval;
  if (set != nullptr && set->nodeNr > 0) {
    xmlXPathNodeSetSort(set);
    nodes.reserve(static_cast<size_t>(set->nodeNr));
    for (int i = 0; i < set->nodeNr; ++i) {
      xmlNodePtr node = set->nodeTab[i];
      // Namespace nodes of a node set are copies owned by the set, not
      // nodes of the tree: they cannot outlive this call.
      if (node == nullptr || node->type == XML_NAMESPACE_DECL) continue;
      nodes.push_back(node);
    }
  }
  return XmlNodeList(std::move(nodes));
}

int WriteToString(void* context, const char* buffer, int length) {
  static_cast<std::string*>(context)->append(buffer, static_cast<size_t>(length));
  return length;
}

int CloseNothing(void*) { return 0; }

// --- Loading -----------------------------------------------------------------

// Marks a document loaded read only, in the field libxml2 leaves to its users.
const char kReadOnlyMark = 'r';

void CheckChangeable(const xmlNode* node) {
  if (node != nullptr && node->doc != nullptr && node->doc->_private == &kReadOnlyMark)
    throw Error("El documento se cargó solo para leerlo y no se puede cambiar");
}

bool AllBlanks(const xmlChar* text, int length) {
  for (int i = 0; i < length; ++i)
    if (text[i] != ' ' && text[i] != '\t' && text[i] != '\n' && text[i] != '\r') return false;
  return true;
}

// Stands between the parser and libxml2's tree builder (its SAX2 handlers)
// and keeps from the tree what the load options leave out. Every event of
// the parser passes through it in document order; what it drops never
// reaches the builder, so the tree is the one a document without those parts
// would give.
struct LoadFilter {
  xmlSAXHandler tree{};  // the tree builder's handlers
  bool drop_blanks = false;
  std::string text_element;
  std::string skip_name;

  int depth = 0;         // elements open in the tree being built
  int skip_depth = 0;    // elements open inside the one left out
  int text_depth = 0;    // text elements open
  bool skipped = false;
  // Text that is not blank was passed on since the last markup, so the rest
  // of that text belongs to the same node and passes too.
  bool in_text = false;
  std::string blanks;    // blank text held back until it is known what follows
};

LoadFilter& FilterOf(void* context) {
  return *static_cast<LoadFilter*>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

bool IsNamed(const std::string& name, const xmlChar* local_name) {
  return !name.empty() && name == reinterpret_cast<const char*>(local_name);
}

// Markup follows: blank text held back stood between markup and is dropped.
void EndOfText(LoadFilter& f) {
  f.blanks.clear();
  f.in_text = false;
}

void FilteredStartElement(void* context, const xmlChar* local_name, const xmlChar* prefix,
                          const xmlChar* uri, int namespace_count, const xmlChar** namespaces,
                          int attribute_count, int defaulted_count, const xmlChar** attributes) {
  LoadFilter& f = FilterOf(context);
  if (f.skip_depth > 0) {
    ++f.skip_depth;
    return;
  }
  EndOfText(f);
  if (f.depth == 1 && !f.skipped && prefix == nullptr && uri == nullptr && IsNamed(f.skip_name, local_name)) {
    f.skipped = true;
    f.skip_depth = 1;
    return;
  }
  ++f.depth;
  if (IsNamed(f.text_element, local_name)) ++f.text_depth;
  f.tree.startElementNs(context, local_name, prefix, uri, namespace_count, namespaces, attribute_count,
                        defaulted_count, attributes);
}

void FilteredEndElement(void* context, const xmlChar* local_name, const xmlChar* prefix, const xmlChar* uri) {
  LoadFilter& f = FilterOf(context);
  if (f.skip_depth > 0) {
    --f.skip_depth;
    return;
  }
  EndOfText(f);
  --f.depth;
  if (f.text_depth > 0 && IsNamed(f.text_element, local_name)) --f.text_depth;
  f.tree.endElementNs(context, local_name, prefix, uri);
}

void FilteredCharacters(void* context, const xmlChar* text, int length) {
  LoadFilter& f = FilterOf(context);
  if (f.skip_depth > 0) return;
  if (f.drop_blanks && f.text_depth == 0 && !f.in_text) {
    if (AllBlanks(text, length)) {
      f.blanks.append(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
      return;
    }
    f.in_text = true;
    if (!f.blanks.empty()) {
      f.tree.characters(context, reinterpret_cast<const xmlChar*>(f.blanks.data()),
                        static_cast<int>(f.blanks.size()));
      f.blanks.clear();
    }
  }
  f.tree.characters(context, text, length);
}

void FilteredCData(void* context, const xmlChar* text, int length) {
  LoadFilter& f = FilterOf(context);
  if (f.skip_depth > 0) return;
  EndOfText(f);
  if (f.tree.cdataBlock != nullptr) f.tree.cdataBlock(context, text, length);
}

void FilteredComment(void* context, const xmlChar* text) {
  LoadFilter& f = FilterOf(context);
  if (f.skip_depth > 0) return;
  EndOfText(f);
  if (f.tree.comment != nullptr) f.tree.comment(context, text);
}

void FilteredProcessingInstruction(void* context, const xmlChar* target, const xmlChar* data) {
  LoadFilter& f = FilterOf(context);
  if (f.skip_depth > 0) return;
  EndOfText(f);
  if (f.tree.processingInstruction != nullptr) f.tree.processingInstruction(context, target, data);
}

void FilteredReference(void* context, const xmlChar* name) {
  LoadFilter& f = FilterOf(context);
  if (f.skip_depth > 0) return;
  EndOfText(f);
  if (f.tree.reference != nullptr) f.tree.reference(context, name);
}

// The tree builder's handlers with the filter in front of those that build
// content. Characters and ignorable whitespace share one handler, so the
// parser never guesses which blanks are ignorable.
xmlSAXHandler FilteredHandlers(LoadFilter& filter) {
  xmlSAXVersion(&filter.tree, 2);
  xmlSAXHandler sax = filter.tree;
  sax.startElementNs = &FilteredStartElement;
  sax.endElementNs = &FilteredEndElement;
  sax.characters = &FilteredCharacters;
  sax.ignorableWhitespace = &FilteredCharacters;
  sax.cdataBlock = &FilteredCData;
  sax.comment = &FilteredComment;
  sax.processingInstruction = &FilteredProcessingInstruction;
  sax.reference = &FilteredReference;
  return sax;
}

// --- Fragments and saving ----------------------------------------------------

// The nodes of a well-formed fragment in UTF-8, belonging to `doc` and not
// yet linked anywhere; null for an empty fragment.
xmlNodePtr ParseFragment(xmlDocPtr doc, std::string_view utf8_markup) {
  if (utf8_markup.empty()) return nullptr;
  const std::string text(utf8_markup);
  if (text.size() > INT_MAX || text.find('\0') != std::string::npos)
    throw Error("El fragmento XML que se quiere añadir no es texto válido");
  CapturedErrors errors;
  LibxmlScope scope(&errors);
  xmlNodePtr list = nullptr;
  const int result = xmlParseBalancedChunkMemory(doc, nullptr, nullptr, 0, Chars(text), &list);
  if (result != 0) {
    if (list != nullptr) xmlFreeNodeList(list);
    throw Error("El fragmento XML que se quiere añadir no está bien formado" +
                (errors.Any() ? ": " + errors.Message() : std::string()));
  }
  return list;
}

// A chain of sibling nodes linked after an element's children by hand:
// xmlAddChild would merge adjacent text nodes, after which the tree could
// not be put back as it was. At destruction the nodes are unlinked and freed
// again, unless Keep() was called.
class LinkedChildren {
 public:
  LinkedChildren(xmlNodePtr parent, xmlNodePtr first)
      : parent_(parent), before_(parent->last), first_(first) {
    if (first_ == nullptr) return;
    xmlNodePtr last = first_;
    for (xmlNodePtr n = first_; n != nullptr; n = n->next) {
      n->parent = parent_;
      last = n;
    }
    first_->prev = before_;
    if (before_ != nullptr) before_->next = first_;
    else parent_->children = first_;
    parent_->last = last;
  }
  ~LinkedChildren() {
    if (first_ == nullptr || kept_) return;
    parent_->last = before_;
    if (before_ != nullptr) before_->next = nullptr;
    else parent_->children = nullptr;
    first_->prev = nullptr;
    for (xmlNodePtr n = first_; n != nullptr; n = n->next) n->parent = nullptr;
    xmlFreeNodeList(first_);
  }
  LinkedChildren(const LinkedChildren&) = delete;
  LinkedChildren& operator=(const LinkedChildren&) = delete;
  void Keep() { kept_ = true; }

 private:
  xmlNodePtr parent_;
  xmlNodePtr before_;
  xmlNodePtr first_;
  bool kept_ = false;
};

using Sink = std::function<void(std::string_view)>;

// An output buffer's way out to a sink; an exception of the sink is kept and
// thrown again once libxml2 has returned.
struct SinkTarget {
  const Sink* sink;
  std::exception_ptr failure;
};

int WriteToSink(void* context, const char* buffer, int length) {
  auto* target = static_cast<SinkTarget*>(context);
  try {
    (*target->sink)(std::string_view(buffer, static_cast<size_t>(length)));
    return length;
  } catch (...) {
    target->failure = std::current_exception();
    return -1;
  }
}

// Appends valid UTF-8 to `out` as ISO-8859-1 (`limit` 0xFF) or ASCII
// (`limit` 0x7F), a character above `limit` as a decimal character
// reference: the bytes libxml2's own encoder gives, without its cost per
// byte (an import document is mostly ASCII markup).
void AppendSingleByte(std::string& out, std::string_view piece, unsigned limit, const std::string& failed) {
  size_t i = 0;
  while (i < piece.size()) {
    size_t ascii_end = i;
    while (ascii_end < piece.size() && static_cast<unsigned char>(piece[ascii_end]) < 0x80) ++ascii_end;
    out.append(piece.data() + i, ascii_end - i);
    i = ascii_end;
    if (i == piece.size()) break;
    const auto b = static_cast<unsigned char>(piece[i]);
    const int length = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || i + length > piece.size()) throw Error(failed + ": el texto no es UTF-8 válido");
    unsigned cp = b & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(piece[i + k]);
      if ((c & 0xC0) != 0x80) throw Error(failed + ": el texto no es UTF-8 válido");
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp <= limit) out += static_cast<char>(cp);
    else out += "&#" + std::to_string(cp) + ";";
    i += length;
  }
}

}  // namespace

// --- XmlNode ---------------------------------------------------------------

std::string XmlNode::Name() const {
  if (node_ == nullptr) return "";
  if (node_->type != XML_ELEMENT_NODE && node_->type != XML_ATTRIBUTE_NODE) return "";
  std::string name = FromChars(node_->name);
  if (node_->ns != nullptr && node_->ns->prefix != nullptr) name = FromChars(node_->ns->prefix) + ":" + name;
  return name;
}

std::string XmlNode::Text() const {
  if (node_ == nullptr) return "";
  // An element holding one text node, or nothing, as most do: its text
  // without building a buffer.
  if (node_->type == XML_ELEMENT_NODE) {
    const xmlNode* child = node_->children;
    if (child == nullptr) return "";
    if (child->next == nullptr && child->type == XML_TEXT_NODE) return FromChars(child->content);
  }
  xmlChar* content = xmlNodeGetContent(node_);
  std::string text = FromChars(content);
  xmlFree(content);
  return text;
}

std::string XmlNode::Attribute(std::string_view name) const {
  xmlAttrPtr attr = FindAttribute(node_, name);
  if (attr == nullptr) return "";
  xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr));
  std::string text = FromChars(value);
  xmlFree(value);
  return text;
}

bool XmlNode::HasAttribute(std::string_view name) const { return FindAttribute(node_, name) != nullptr; }

XmlNodeList XmlNode::Select(std::string_view xpath) const {
  if (node_ == nullptr || node_->doc == nullptr) return XmlNodeList();
  return Evaluate(node_->doc, node_, xpath);
}

XmlNodeList XmlNode::ChildElements(std::string_view name) const {
  std::vector<xmlNode*> nodes;
  if (node_ == nullptr || node_->type == XML_ATTRIBUTE_NODE) return XmlNodeList();
  for (xmlNodePtr child = node_->children; child != nullptr; child = child->next) {
    // Like the relative expression `name`: an element without namespace.
    if (child->type == XML_ELEMENT_NODE && child->ns == nullptr && child->name != nullptr &&
        NameIs(child->name, name)) {
      nodes.push_back(child);
    }
  }
  return XmlNodeList(std::move(nodes));
}

XmlNode XmlNode::SelectFirst(std::string_view xpath) const { return Select(xpath).Item(0); }

void XmlNode::RemoveChild(XmlNode child) {
  if (node_ == nullptr) throw Error("No se puede quitar un nodo de un elemento que no existe");
  if (child.node_ == nullptr) {
    throw Error("No se puede quitar de «" + Name() + "» un nodo que no existe");
  }
  if (child.node_->parent != node_ || child.node_->type == XML_NAMESPACE_DECL) {
    throw Error("El nodo «" + child.Name() + "» no es hijo de «" + Name() + "» y no se puede quitar de él");
  }
  CheckChangeable(node_);
  xmlUnlinkNode(child.node_);
  xmlFreeNode(child.node_);
}

void XmlNode::AppendChild(XmlNode child) {
  if (node_ == nullptr) throw Error("No se puede añadir un nodo a un elemento que no existe");
  if (child.node_ == nullptr) throw Error("No se puede añadir a «" + Name() + "» un nodo que no existe");
  if (node_->type != XML_ELEMENT_NODE) throw Error("Solo se pueden añadir nodos a un elemento");
  if (child.node_->type != XML_ELEMENT_NODE) {
    throw Error("Solo se pueden añadir elementos a «" + Name() + "»");
  }
  const bool waiting = InNursery(child.node_);
  if (child.node_->parent != nullptr && !waiting) {
    throw Error("El elemento «" + child.Name() + "» ya está en el documento y no se puede añadir otra vez");
  }
  if (child.node_->doc != node_->doc) {
    throw Error("El elemento «" + child.Name() + "» es de otro documento y no se puede añadir a «" + Name() +
                "»");
  }
  CheckChangeable(node_);
  if (waiting) xmlUnlinkNode(child.node_);
  if (xmlAddChild(node_, child.node_) == nullptr) {
    throw Error("No se pudo añadir «" + child.Name() + "» a «" + Name() + "»");
  }
}

void XmlNode::SetAttribute(std::string_view name, std::string_view value) {
  if (node_ == nullptr) throw Error("No se puede poner el atributo «" + std::string(name) + "» a un elemento que no existe");
  if (node_->type != XML_ELEMENT_NODE) {
    throw Error("Solo un elemento puede llevar el atributo «" + std::string(name) + "»");
  }
  CheckChangeable(node_);
  const std::string name_text(name);
  if (xmlValidateNCName(Chars(name_text), 0) != 0) {
    throw Error("«" + name_text + "» no es un nombre de atributo válido");
  }
  CheckStorableText(value, "valor del atributo");
  const std::string value_text(value);
  // The value is stored as it is: no entity references are interpreted, and
  // the writer escapes markup characters on save.
  if (xmlSetNsProp(node_, nullptr, Chars(name_text), Chars(value_text)) == nullptr) {
    throw Error("No se pudo poner el atributo «" + name_text + "» al elemento «" + Name() + "»");
  }
}

void XmlNode::SetText(std::string_view text) {
  if (node_ == nullptr) throw Error("No se puede poner texto a un elemento que no existe");
  if (node_->type != XML_ELEMENT_NODE) throw Error("Solo se puede poner texto a un elemento");
  CheckChangeable(node_);
  CheckStorableText(text, "texto");
  // xmlNodeSetContent would read "&...;" in the text as entity references;
  // clearing the content and adding the text as one text node keeps it as
  // it is.
  xmlNodeSetContent(node_, nullptr);
  if (!text.empty()) {
    xmlNodeAddContentLen(node_, reinterpret_cast<const xmlChar*>(text.data()), static_cast<int>(text.size()));
  }
}

void XmlNode::AppendMarkup(std::string_view utf8_markup) {
  if (node_ == nullptr) throw Error("No se puede añadir contenido a un elemento que no existe");
  if (node_->type != XML_ELEMENT_NODE) throw Error("Solo se puede añadir contenido a un elemento");
  CheckChangeable(node_);
  LinkedChildren(node_, ParseFragment(node_->doc, utf8_markup)).Keep();
}

// --- XmlDocument -----------------------------------------------------------

XmlDocument::XmlDocument() = default;

XmlDocument::~XmlDocument() { Reset(); }

XmlDocument::XmlDocument(XmlDocument&& other) noexcept { *this = std::move(other); }

XmlDocument& XmlDocument::operator=(XmlDocument&& other) noexcept {
  if (this != &other) {
    Reset();
    doc_ = std::exchange(other.doc_, nullptr);
    well_formed_ = std::exchange(other.well_formed_, false);
    parse_error_ = std::move(other.parse_error_);
    parse_error_line_ = std::exchange(other.parse_error_line_, 0);
    source_name_ = std::move(other.source_name_);
    declaration_ = std::move(other.declaration_);
    read_only_ = std::exchange(other.read_only_, false);
    skipped_root_child_ = std::move(other.skipped_root_child_);
    other.parse_error_.clear();
    other.source_name_.clear();
    other.declaration_.clear();
    other.skipped_root_child_.clear();
  }
  return *this;
}

void XmlDocument::Reset() {
  if (doc_ != nullptr) {
    FreeNursery(doc_);  // before the document: its nodes use the document's dictionary
    xmlFreeDoc(doc_);
  }
  doc_ = nullptr;
  well_formed_ = false;
  parse_error_.clear();
  parse_error_line_ = 0;
  declaration_.clear();
  read_only_ = false;
  skipped_root_child_.clear();
}

// The parser reads the document a chunk at a time, so that neither a copy of
// a whole file nor libxml2's own copy of the bytes is ever held. The first
// bytes are kept, as far as the XML declaration, which a save writes back as
// it stood.
class XmlInput {
 public:
  virtual ~XmlInput() = default;
  // Up to `length` bytes into `buffer`; 0 at the end, -1 on a read error.
  virtual int Read(char* buffer, int length) = 0;
  // The whole size; the parser refuses what an int cannot count.
  virtual size_t Size() const = 0;
  // All the bytes, for the line of a refused entity declaration; "" when
  // they cannot be had again.
  virtual std::string AllBytes() const = 0;

  static int ReadCallback(void* context, char* buffer, int length) {
    auto* input = static_cast<XmlInput*>(context);
    const int n = input->Read(buffer, length);
    if (n > 0 && !input->head_done_) {
      input->head_.append(buffer, static_cast<size_t>(n));
      input->head_done_ = input->head_.find("?>") != std::string::npos || input->head_.size() >= kHeadLimit;
    }
    return n;
  }
  // The bytes read first, far enough to hold the XML declaration.
  const std::string& Head() const { return head_; }

 private:
  static constexpr size_t kHeadLimit = 1 << 16;
  std::string head_;
  bool head_done_ = false;
};

namespace {

class MemoryInput : public XmlInput {
 public:
  explicit MemoryInput(std::string_view bytes) : bytes_(bytes) {}
  int Read(char* buffer, int length) override {
    const size_t n = std::min(static_cast<size_t>(length), bytes_.size() - at_);
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return static_cast<int>(n);
  }
  size_t Size() const override { return bytes_.size(); }
  std::string AllBytes() const override { return std::string(bytes_); }

 private:
  std::string_view bytes_;
  size_t at_ = 0;
};

// An open file, closed at destruction. error() is the errno of a failed read.
class FileInput : public XmlInput {
 public:
  explicit FileInput(const std::string& path) : path_(path) {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw Error("No se puede leer el archivo " + path + ": " + OsErrorText(errno));
    struct stat st {};
    if (fstat(fd_, &st) == 0 && st.st_size > 0) size_ = static_cast<size_t>(st.st_size);
  }
  ~FileInput() override { close(fd_); }
  FileInput(const FileInput&) = delete;
  FileInput& operator=(const FileInput&) = delete;

  int Read(char* buffer, int length) override {
    for (;;) {
      const ssize_t n = read(fd_, buffer, static_cast<size_t>(length));
      if (n >= 0) return static_cast<int>(n);
      if (errno == EINTR) continue;
      error_ = errno;
      return -1;
    }
  }
  size_t Size() const override { return size_; }
  std::string AllBytes() const override {
    try {
      return ReadFile(path_);
    } catch (const Error&) {
      return "";
    }
  }
  int error() const { return error_; }

 private:
  std::string path_;
  int fd_ = -1;
  size_t size_ = 0;
  int error_ = 0;
};

}  // namespace

void XmlDocument::Load(const std::string& path, const XmlLoadOptions& options) {
  FileInput input(path);  // throws naming the path and the reason
  Parse(input, path, options);
  // A file that opened but could not be read to its end is not a document
  // that does not parse.
  if (input.error() != 0) {
    Reset();
    throw Error("No se puede leer el archivo " + path + ": " + OsErrorText(input.error()));
  }
}

void XmlDocument::LoadFromMemory(std::string_view bytes, const std::string& name,
                                 const XmlLoadOptions& options) {
  MemoryInput input(bytes);
  Parse(input, name, options);
}

void XmlDocument::LoadWellFormed(const std::string& path, const XmlLoadOptions& options) {
  Load(path, options);
  if (well_formed_) return;
  std::string detail = parse_error_line_ > 0 ? "línea " + std::to_string(parse_error_line_) + ": " : "";
  detail += parse_error_;
  throw Error("El archivo «" + path + "» no es un documento XML válido (" + detail + ")");
}

void XmlDocument::Parse(XmlInput& input, const std::string& name, const XmlLoadOptions& options) {
  Reset();
  source_name_ = name;
  read_only_ = options.read_only;
  if (input.Size() > static_cast<size_t>(INT_MAX)) {
    parse_error_ = "el documento es demasiado grande";
    return;
  }
  xmlInitParser();
  CapturedErrors errors;
  xmlDocPtr doc = nullptr;
  LoadFilter filter;
  filter.drop_blanks = options.read_only;
  filter.text_element = options.text_element;
  filter.skip_name = options.skip_root_child;
  const bool filtered = options.read_only || !options.skip_root_child.empty();
  {
    LibxmlScope scope(&errors);
    xmlSAXHandler sax = FilteredHandlers(filter);
    xmlParserCtxtPtr context = xmlCreateIOParserCtxt(filtered ? &sax : nullptr, nullptr, &XmlInput::ReadCallback,
                                                     &CloseNothing, &input, XML_CHAR_ENCODING_NONE);
    if (context == nullptr) {
      parse_error_ = "no queda memoria para leer el documento";
      return;
    }
    if (filtered) context->_private = &filter;
    // No network, no DTD loaded, no entity substituted; the external entity
    // loader of the scope refuses every other file anyway.
    int parse_options = XML_PARSE_NONET | XML_PARSE_BIG_LINES;
    if (options.read_only) parse_options |= XML_PARSE_COMPACT;
    xmlCtxtUseOptions(context, parse_options);
    if (context->input != nullptr && context->input->filename == nullptr)
      context->input->filename = reinterpret_cast<char*>(xmlStrdup(Chars(name)));
    xmlParseDocument(context);
    doc = context->myDoc;
    context->myDoc = nullptr;
    if (doc != nullptr && !context->wellFormed) {
      xmlFreeDoc(doc);
      doc = nullptr;
    }
    xmlFreeParserCtxt(context);
  }
  if (doc == nullptr) {
    parse_error_ = errors.Any() ? errors.Message() : "el documento no está bien formado";
    parse_error_line_ = errors.Any() ? errors.Line() : 0;
    return;
  }
  if (DeclaresEntities(doc)) {
    xmlFreeDoc(doc);
    parse_error_ = "el documento declara entidades, que no se admiten";
    parse_error_line_ = LineOfFirstEntityDeclaration(input.AllBytes());
    return;
  }
  // Numbers the elements in document order, so that sorting a selection
  // compares two numbers instead of walking the tree.
  xmlXPathOrderDocElems(doc);
  if (options.read_only) doc->_private = const_cast<char*>(&kReadOnlyMark);
  doc_ = doc;
  well_formed_ = true;
  declaration_ = VerbatimDeclaration(input.Head());
  if (filter.skipped) skipped_root_child_ = options.skip_root_child;
}

XmlNode XmlDocument::Root() const {
  return doc_ == nullptr ? XmlNode() : XmlNode(xmlDocGetRootElement(doc_));
}

XmlNodeList XmlDocument::Select(std::string_view xpath) const {
  if (doc_ == nullptr) return XmlNodeList();
  return Evaluate(doc_, reinterpret_cast<xmlNodePtr>(doc_), xpath);
}

XmlNode XmlDocument::CreateElement(std::string_view name) {
  const std::string text(name);
  if (doc_ == nullptr) {
    throw Error("No se puede crear el elemento «" + text + "»: el documento «" + source_name_ + "» no tiene contenido");
  }
  if (read_only_) throw Error("El documento «" + source_name_ + "» se cargó solo para leerlo y no se puede cambiar");
  if (xmlValidateName(Chars(text), 0) != 0) throw Error("«" + text + "» no es un nombre de elemento válido");
  xmlNodePtr nursery = NurseryFor(doc_);
  xmlNodePtr node = nursery == nullptr ? nullptr : xmlNewDocNode(doc_, nullptr, Chars(text), nullptr);
  if (node == nullptr) throw Error("No se pudo crear el elemento «" + text + "»");
  xmlAddChild(nursery, node);
  return XmlNode(node);
}

void XmlDocument::CheckSavable() const {
  if (doc_ == nullptr) {
    throw Error("El documento «" + source_name_ + "» no tiene contenido que guardar");
  }
  if (read_only_) {
    throw Error("El documento «" + source_name_ + "» se cargó solo para leerlo y no se puede guardar");
  }
}

std::string XmlDocument::SaveToString() const {
  CheckSavable();
  return Serialized();
}

std::string XmlDocument::Serialized() const {
  const char* encoding = doc_->encoding != nullptr ? reinterpret_cast<const char*>(doc_->encoding) : "UTF-8";
  // The loaded declaration is written back as it stood. A document that had
  // none gets none (UTF-8 is the default); one in a 16-bit encoding gets the
  // declaration libxml2 writes.
  const bool keep_declaration = !declaration_.empty() && AsciiCompatible(encoding);
  const bool had_declaration = !declaration_.empty() || doc_->encoding != nullptr;
  int options = XML_SAVE_AS_XML;
  if (keep_declaration || !had_declaration) options |= XML_SAVE_NO_DECL;

  std::string out;
  CapturedErrors errors;
  LibxmlScope scope(&errors);
  if (keep_declaration) out = declaration_ + "\n";
  xmlSaveCtxtPtr save = xmlSaveToIO(&WriteToString, &CloseNothing, &out, encoding, options);
  if (save == nullptr) {
    throw Error("No se puede guardar el documento «" + source_name_ + "» en la codificación «" + encoding +
                "», que no se conoce");
  }
  const long written = xmlSaveDoc(save, doc_);
  const int closed = xmlSaveClose(save);
  if (written < 0 || closed < 0 || errors.Any()) {
    throw Error("No se pudo escribir el documento «" + source_name_ + "» en la codificación «" + encoding + "»" +
                (errors.Any() ? ": " + errors.Message() : std::string()));
  }
  return out;
}

void XmlDocument::Save(const std::string& path) const { WriteFileAtomically(path, SaveToString()); }

void XmlDocument::SaveWithContent(const std::string& path, XmlNode element,
                                  const std::vector<std::string_view>& markup) const {
  AtomicFileWriter file(path);
  XmlContentWriter writer(*this, element, [&file](std::string_view bytes) { file.Write(bytes); });
  for (std::string_view piece : markup) writer.Write(piece);
  writer.Finish();
  file.Commit();
}

std::string XmlDocument::SaveToStringWithContent(XmlNode element,
                                                 const std::vector<std::string_view>& markup) const {
  std::string out;
  XmlContentWriter writer(*this, element, [&out](std::string_view bytes) { out.append(bytes); });
  for (std::string_view piece : markup) writer.Write(piece);
  writer.Finish();
  return out;
}

// --- XmlContentWriter ------------------------------------------------------

struct XmlContentWriter::State {
  enum class Way {
    kUtf8,        // the pieces as they are
    kSingleByte,  // ISO-8859-1 or ASCII, converted here
    kLibxml,      // through libxml2's encoder for the encoding
    kTree,        // gathered, parsed into the tree at Finish()
  };

  const XmlDocument* doc = nullptr;
  xmlNodePtr parent = nullptr;
  Sink sink;
  Way way = Way::kUtf8;
  unsigned limit = 0x7F;        // kSingleByte
  std::string failed;           // the start of an encoding error's message
  std::string converted;        // kSingleByte: bytes not yet handed on
  xmlOutputBufferPtr out = nullptr;  // kLibxml
  SinkTarget target{nullptr, nullptr};
  std::string gathered;         // kTree
  std::string rest;             // what follows the content
  bool finished = false;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (out == nullptr) return;
    // Unfinished (or failed while starting): nothing more reaches the sink,
    // whose owner may be going too.
    static const Sink kNowhere = [](std::string_view) {};
    target.sink = &kNowhere;
    CapturedErrors errors;
    LibxmlScope scope(&errors);
    xmlOutputBufferClose(out);
  }

  void HandOnConverted() {
    if (!converted.empty()) sink(converted);
    converted.clear();
  }
};

XmlContentWriter::XmlContentWriter(const XmlDocument& doc, XmlNode element,
                                   std::function<void(std::string_view)> sink)
    : state_(std::make_unique<State>()) {
  State& st = *state_;
  doc.CheckSavable();
  xmlDocPtr xdoc = doc.doc_;
  xmlNodePtr parent = element.raw();
  if (parent == nullptr || parent->type != XML_ELEMENT_NODE || parent->doc != xdoc) {
    throw Error("El documento «" + doc.source_name_ +
                "» no se puede guardar con contenido para un elemento que no es suyo");
  }
  st.doc = &doc;
  st.parent = parent;
  st.sink = std::move(sink);
  const char* encoding = xdoc->encoding != nullptr ? reinterpret_cast<const char*>(xdoc->encoding) : "UTF-8";
  st.failed = "No se pudo escribir el documento «" + doc.source_name_ + "» en la codificación «" + encoding + "»";
  if (!AsciiCompatible(encoding)) {
    // No marker can be found in the written bytes: the content becomes
    // nodes for the time of the save, at Finish().
    st.way = State::Way::kTree;
    return;
  }
  switch (xmlParseCharEncoding(encoding)) {
    case XML_CHAR_ENCODING_UTF8: st.way = State::Way::kUtf8; break;
    case XML_CHAR_ENCODING_8859_1: st.way = State::Way::kSingleByte, st.limit = 0xFF; break;  // what Sauce writes
    case XML_CHAR_ENCODING_ASCII: st.way = State::Way::kSingleByte, st.limit = 0x7F; break;
    default: {
      st.way = State::Way::kLibxml;
      CapturedErrors errors;
      LibxmlScope scope(&errors);
      xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(encoding);
      if (handler == nullptr) {
        throw Error("No se puede guardar el documento «" + doc.source_name_ + "» en la codificación «" +
                    encoding + "», que no se conoce");
      }
      st.target.sink = &st.sink;
      st.out = xmlOutputBufferCreateIO(&WriteToSink, &CloseNothing, &st.target, handler);
      if (st.out == nullptr) {
        xmlCharEncCloseFunc(handler);
        throw Error(st.failed + ": no queda memoria");
      }
    }
  }

  // The document is written with a processing instruction standing where
  // the content goes; its name is made unique in the written bytes (a
  // comment of the document could hold the same text).
  std::string text;
  std::string marker;
  size_t at = std::string::npos;
  for (unsigned n = 0; at == std::string::npos; ++n) {
    const std::string target = "tvs-content-" + std::to_string(n);
    marker = "<?" + target + "?>";
    xmlNodePtr pi = xmlNewDocPI(xdoc, Chars(target), nullptr);
    if (pi == nullptr) throw Error("No queda memoria para guardar el documento «" + doc.source_name_ + "»");
    {
      LinkedChildren placed(parent, pi);
      text = doc.Serialized();
    }
    const size_t found = text.find(marker);
    if (found != std::string::npos && text.find(marker, found + marker.size()) == std::string::npos) at = found;
  }
  st.rest = text.substr(at + marker.size());
  text.resize(at);
  st.sink(text);
}

XmlContentWriter::~XmlContentWriter() = default;

void XmlContentWriter::Write(std::string_view utf8_markup) {
  State& st = *state_;
  if (st.finished) throw Error(st.failed + ": el contenido ya se había terminado");
  switch (st.way) {
    case State::Way::kUtf8:
      if (!utf8_markup.empty()) st.sink(utf8_markup);
      return;
    case State::Way::kSingleByte:
      AppendSingleByte(st.converted, utf8_markup, st.limit, st.failed);
      if (st.converted.size() >= (1 << 16)) st.HandOnConverted();
      return;
    case State::Way::kTree:
      st.gathered += utf8_markup;
      return;
    case State::Way::kLibxml: {
      CapturedErrors errors;
      LibxmlScope scope(&errors);
      // Handed over in chunks that end between characters.
      constexpr size_t kChunk = 1 << 20;
      bool written = true;
      while (written && !utf8_markup.empty()) {
        size_t n = std::min(utf8_markup.size(), kChunk);
        while (n < utf8_markup.size() && n > 0 && (static_cast<unsigned char>(utf8_markup[n]) & 0xC0) == 0x80) --n;
        written = xmlOutputBufferWrite(st.out, static_cast<int>(n), utf8_markup.data()) >= 0;
        utf8_markup.remove_prefix(n);
      }
      if (st.target.failure) std::rethrow_exception(st.target.failure);
      if (!written || errors.Any())
        throw Error(st.failed + (errors.Any() ? ": " + errors.Message() : std::string()));
      return;
    }
  }
}

void XmlContentWriter::Finish() {
  State& st = *state_;
  if (st.finished) throw Error(st.failed + ": el contenido ya se había terminado");
  st.finished = true;
  switch (st.way) {
    case State::Way::kUtf8:
      break;
    case State::Way::kSingleByte:
      st.HandOnConverted();
      break;
    case State::Way::kTree: {
      std::string text;
      {
        LinkedChildren content(st.parent, ParseFragment(st.parent->doc, st.gathered));
        text = st.doc->Serialized();
      }
      st.sink(text);
      return;
    }
    case State::Way::kLibxml: {
      CapturedErrors errors;
      LibxmlScope scope(&errors);
      const int closed = xmlOutputBufferClose(st.out);  // flushes; frees the handler
      st.out = nullptr;
      if (st.target.failure) std::rethrow_exception(st.target.failure);
      if (closed < 0 || errors.Any())
        throw Error(st.failed + (errors.Any() ? ": " + errors.Message() : std::string()));
      break;
    }
  }
  st.sink(st.rest);
}

}  // namespace tvs
