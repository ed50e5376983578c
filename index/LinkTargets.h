#pragma once
// Whether the links of a page lead anywhere. Each document's row links to the document's name
// with ".rtf" and with ".txt" appended; those companions are published beside the documents
// by hand, and a page whose companions are missing is all dead links. The page is not changed
// by this: the count only tells whoever writes it.
#include "index/IndexPageWriter.h"

#include <QList>
#include <QString>

// How many links of the page for `entries` (two per document) name no regular file in the
// open folder `folderFd` (a link counts as what it leads to; a dangling one as missing).
int missingLinkTargetsAt(int folderFd, const QList<IndexEntry>& entries);
// The same for the folder path `folder` (ending with '/'); a folder that cannot be opened
// counts every link as missing.
int missingLinkTargets(const QString& folder, const QList<IndexEntry>& entries);
