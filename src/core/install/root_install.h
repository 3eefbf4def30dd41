#pragma once
// Placing the files of one install job into one server root.
#include <string>
#include <vector>

#include "install/case_path.h"
#include "install/install_failure.h"
#include "install/install_jobs.h"

// Copies every record, in order, to `root` (ending with "/") + its relative path. First
// the root's file system must have room for all the files (free_space.h), else NoSpace
// before anything changes. For each record the folders of its relative path are created
// below the root where missing (a failed creation is not reported: the copy into it fails
// next), and existing folders and files of another letter case are used, found through
// `names` (which the caller keeps for the whole job at this root). With
// `skipPluginListFiles`, a record whose relative path contains "PlugList.txt" (ASCII case
// ignored) gets its folders but is not copied. Each copy replaces the destination
// atomically and leaves a file that is its own source alone (file_copy.h).
//
// Done when every record was copied (or skipped as the rules say). Fails with NoSpace when
// the root's file system lacks room (nothing in the root was changed), or with the first
// failed copy's reason (the records before it stay copied, the rest were not tried).
InstallResult installRecordsIntoRoot(const std::string& root,
                                     const std::vector<InstallRecord>& records,
                                     bool skipPluginListFiles, CaseInsensitiveNames& names);
