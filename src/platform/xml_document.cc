#include "platform/xml_document.h"

#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <climits>
#include <cstring>
#include <utility>

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/files.h"

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
  if (error->level == XML_ERR_FATAL && !captured->have_fatal) {
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
        name == reinterpret_cast<const char*>(child->name)) {
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
  if (child.node_->parent != nullptr) {
    throw Error("El elemento «" + child.Name() + "» ya está en el documento y no se puede añadir otra vez");
  }
  if (child.node_->doc != node_->doc) {
    throw Error("El elemento «" + child.Name() + "» es de otro documento y no se puede añadir a «" + Name() +
                "»");
  }
  if (xmlAddChild(node_, child.node_) == nullptr) {
    throw Error("No se pudo añadir «" + child.Name() + "» a «" + Name() + "»");
  }
}

void XmlNode::SetAttribute(std::string_view name, std::string_view value) {
  if (node_ == nullptr) throw Error("No se puede poner el atributo «" + std::string(name) + "» a un elemento que no existe");
  if (node_->type != XML_ELEMENT_NODE) {
    throw Error("Solo un elemento puede llevar el atributo «" + std::string(name) + "»");
  }
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
  CheckStorableText(text, "texto");
  // xmlNodeSetContent would read "&...;" in the text as entity references;
  // clearing the content and adding the text as one text node keeps it as
  // it is.
  xmlNodeSetContent(node_, nullptr);
  if (!text.empty()) {
    xmlNodeAddContentLen(node_, reinterpret_cast<const xmlChar*>(text.data()), static_cast<int>(text.size()));
  }
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
    other.parse_error_.clear();
    other.source_name_.clear();
    other.declaration_.clear();
  }
  return *this;
}

void XmlDocument::Reset() {
  if (doc_ != nullptr) xmlFreeDoc(doc_);
  doc_ = nullptr;
  well_formed_ = false;
  parse_error_.clear();
  parse_error_line_ = 0;
  declaration_.clear();
}

void XmlDocument::Load(const std::string& path) {
  const std::string bytes = ReadFile(path);  // throws naming the path and the reason
  Parse(bytes, path);
}

void XmlDocument::LoadFromMemory(std::string_view bytes, const std::string& name) { Parse(bytes, name); }

void XmlDocument::LoadWellFormed(const std::string& path) {
  Load(path);
  if (well_formed_) return;
  std::string detail = parse_error_line_ > 0 ? "línea " + std::to_string(parse_error_line_) + ": " : "";
  detail += parse_error_;
  throw Error("El archivo «" + path + "» no es un documento XML válido (" + detail + ")");
}

void XmlDocument::Parse(std::string_view bytes, const std::string& name) {
  Reset();
  source_name_ = name;
  if (bytes.size() > static_cast<size_t>(INT_MAX)) {
    parse_error_ = "el documento es demasiado grande";
    return;
  }
  xmlInitParser();
  CapturedErrors errors;
  xmlDocPtr doc = nullptr;
  {
    LibxmlScope scope(&errors);
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (context == nullptr) {
      parse_error_ = "no queda memoria para leer el documento";
      return;
    }
    // No network, no DTD loaded, no entity substituted; the external entity
    // loader of the scope refuses every other file anyway.
    const int options = XML_PARSE_NONET | XML_PARSE_BIG_LINES;
    const char* data = bytes.empty() ? "" : bytes.data();
    doc = xmlCtxtReadMemory(context, data, static_cast<int>(bytes.size()), name.c_str(), nullptr, options);
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
    parse_error_line_ = LineOfFirstEntityDeclaration(bytes);
    return;
  }
  // Numbers the elements in document order, so that sorting a selection
  // compares two numbers instead of walking the tree.
  xmlXPathOrderDocElems(doc);
  doc_ = doc;
  well_formed_ = true;
  declaration_ = VerbatimDeclaration(bytes);
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
  if (xmlValidateName(Chars(text), 0) != 0) throw Error("«" + text + "» no es un nombre de elemento válido");
  xmlNodePtr node = xmlNewDocNode(doc_, nullptr, Chars(text), nullptr);
  if (node == nullptr) throw Error("No se pudo crear el elemento «" + text + "»");
  return XmlNode(node);
}

std::string XmlDocument::SaveToString() const {
  if (doc_ == nullptr) {
    throw Error("El documento «" + source_name_ + "» no tiene contenido que guardar");
  }
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

}  // namespace tvs
