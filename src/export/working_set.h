// Replacing the working set: the tables of one export run enter the working
// folder together or not at all.
//
// Commit: every table is written to a staging file in the working folder, and
// a journal naming each staging file and its target to a temporary file; all
// are flushed together, then the journal is renamed into place and the folder
// flushed; then the staging files are renamed over their targets (and
// stale .MDX index files and copies of a table under another letter case are
// removed); then the journal is removed. A process killed before the journal
// exists leaves the old set; one killed after finds its journal on the next
// run, which completes the renames (Recover). Staging files without a journal
// are removed.
//
// Before anything is renamed, every existing target is locked exclusively, so
// a table held open by another program fails the commit with a message naming
// it, and nothing changes.
#pragma once

#include <string>
#include <vector>

#include "platform/dbf.h"

namespace tvs {

// Writes `tables` into `folder` (created when missing) as one set.
void CommitWorkingSet(const std::string& folder, const std::vector<const DbfTable*>& tables);

// Finishes a commit that a killed process left half done, and removes staging
// files left behind. Cheap when there is nothing to do.
void RecoverWorkingSet(const std::string& folder);

// Suffix of staging files and name of the journal, for tests.
inline constexpr const char* kStagingSuffix = ".tvs-staging";
inline constexpr const char* kJournalName = ".transvelmar-commit";

}  // namespace tvs
