// Inputs the fuzz targets (tests/fuzz) found, kept as they were found in
// tests/data/fuzz/, each with the promise it broke.
#include <gtest/gtest.h>
#include <libxml/xmlstring.h>

#include <string>

#include "platform/codepage.h"
#include "platform/dbf.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/xml_document.h"

namespace tvs {
namespace {

std::string Finding(const std::string& name) { return ReadFile(std::string(TVS_TEST_DATA) + "/fuzz/" + name); }

bool IsUtf8(const std::string& text) {
  return xmlCheckUTF8(reinterpret_cast<const xmlChar*>(text.c_str())) != 0;
}

// A field name holding bytes above 0x7F went into the "not a number" message
// as it stood, so the message was not UTF-8.
TEST(FuzzFindingsTest, NotANumberMessageShowsAFieldNameOfAnyBytesAsText) {
  const DbfTable t = ParseDbf(Finding("dbf-field-name-cp1252.dbf"), "SOLUC");
  int refused = 0;
  for (size_t r = 0; r < t.RecordCount(); ++r) {
    for (size_t f = 0; f < t.fields().size(); ++f) {
      try {
        (void)t.Integer(r, f);
      } catch (const Error& e) {
        ++refused;
        const std::string message = e.what();
        EXPECT_TRUE(IsUtf8(message)) << message;
        EXPECT_NE(message.find("campo " + FromWindows1252(t.fields()[f].name) + ","), std::string::npos)
            << message;
      }
    }
  }
  EXPECT_GT(refused, 0);
}

// libxml2 quotes the start of an unfinished CDATA section cut at 50 bytes,
// which can fall inside a character: the parse error was not UTF-8.
TEST(FuzzFindingsTest, ParseErrorQuotingACutCharacterIsStillUtf8) {
  XmlDocument doc;
  doc.LoadFromMemory(Finding("xml-message-cut-inside-character.xml"), "corte.xml");
  ASSERT_FALSE(doc.WellFormed());
  EXPECT_NE(doc.ParseError().find("CData"), std::string::npos) << doc.ParseError();
  EXPECT_TRUE(IsUtf8(doc.ParseError())) << doc.ParseError();
}

}  // namespace
}  // namespace tvs
