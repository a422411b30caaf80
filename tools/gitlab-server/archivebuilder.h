#pragma once

#include "catalogue.h"

namespace LocalGitLab {

// Builds a repository archive the way `git archive <commit>` does: tar formats start with a pax
// global header carrying the commit id, every entry lies below one top-level folder, directories
// come before their content. Returns an empty array and sets errorMessage on failure.
QByteArray buildArchive(const ArchiveInput &input, Catalogue::Format format, QString *errorMessage);

} // namespace LocalGitLab
