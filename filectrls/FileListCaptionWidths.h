#pragma once
// The width of the widest caption of the file list, for the list style's one column.
#include "filectrls/FileListModel.h"

#include <QFont>

#include <vector>

// The widest of the items' captions as `font` draws them, in pixels; large lists are measured
// on several threads.
int widestCaption(const QFont& font, const std::vector<TFileListModel::Item>& items);
