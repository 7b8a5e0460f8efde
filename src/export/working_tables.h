// The eight working tables the export writes and the import reads, with
// their fields (name, type, width, order) written once, here. Builders create
// their tables from these lists; the tests check the files against them.
#pragma once

#include <string_view>
#include <vector>

#include "platform/dbf.h"

namespace tvs {

inline constexpr std::string_view kAsignomt = "ASIGNOMT";
inline constexpr std::string_view kAsignomt2 = "ASIGNOMT2";
inline constexpr std::string_view kProft = "PROFT";
inline constexpr std::string_view kAulat = "AULAT";
inline constexpr std::string_view kCursost = "CURSOST";
inline constexpr std::string_view kGrupost = "GRUPOST";
inline constexpr std::string_view kAsigt = "ASIGT";
inline constexpr std::string_view kDiashorast = "DIASHORAST";
inline constexpr std::string_view kSoluc = "SOLUC";

// The eight tables of the export, in the order they are built.
const std::vector<std::string_view>& WorkingTableNames();

// The field list of a working table. REQUIRES: `table` is one of the eight.
const std::vector<DbfField>& WorkingTableFields(std::string_view table);

// File name of a table: its name with the extension .DBF.
std::string TableFileName(std::string_view table);

}  // namespace tvs
