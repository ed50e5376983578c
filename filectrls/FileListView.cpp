#include "filectrls/FileListView.h"

#include "base/ApplicationException.h"
#include "base/ResourceStrings.h"
#include "filectrls/DrawItemText.h"
#include "filectrls/FileIconProvider.h"
#include "filectrls/LayoutLoading.h"
#include "platform/FsString.h"
#include "platform/Paths.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

TFileTypeTextProc FileTypeTextProc = FileTypeText;

namespace {

QString megaBytes(qint64 units) {
    return rs::format(rs::SMegaBytes, {units});
}

// The locale's long time format without a time zone: the packed times are plain local times.
QString longTimeFormat(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        result += c;
    }
    return result.trimmed();
}

QString dateTimeText(const QDate& date, const QTime& time) {
    const QLocale locale;
    QString text = locale.toString(date, QLocale::ShortFormat);
    if (time != QTime(0, 0))
        text += u' ' + locale.toString(time, longTimeFormat(locale));
    return text;
}

bool sameFolder(QByteArrayView a, QByteArrayView b) {
    const auto bare = [](QByteArrayView p) {
        return p.size() > 1 && p.endsWith('/') ? p.chopped(1) : p;
    };
    return bare(a) == bare(b);
}

// What names an item across re-reads: a drive its root path (its Name is its label), anything
// else its name.
QByteArray itemKey(const TFileInfo* entry) {
    if (!entry)
        return {};
    return OwnedName((entry->Attr & faVolumeID) ? entry->FindName() : entry->Name);
}

} // namespace

QString FileDateText(quint32 dosDateTime) {
    const quint32 date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
    const QDate d(int(1980 + (date >> 9)), int((date >> 5) & 15), int(date & 31));
    const QTime t(int(time >> 11), int((time >> 5) & 63), int((time & 31) * 2));
    if (!d.isValid() || !t.isValid())
        return {};
    return dateTimeText(d, t);
}

QString FileListCellText(TFileInfo* entry, int column, bool showingDrives) {
    if (!entry)
        return {};
    switch (column) {
    case TFileListView::ColSize:
        return showingDrives ? megaBytes(entry->Size) : QString::number(entry->Size);
    case TFileListView::ColType:
        return FileTypeTextProc(*entry);
    case TFileListView::ColDate:
        return showingDrives ? megaBytes(entry->Time) : FileDateText(entry->Time);
    case TFileListView::ColAttributes:
        return AttributeLetters(entry->Attr);
    default:
        return QStringLiteral("???");
    }
}

// --- the table model over the listing ------------------------------------------------------

// One row per item; an item holds exactly its entry, its caption and its image index. The model
// answers everything a cell shows (texts, icon, hint); the view only asks it. What the model
// cannot decide alone (whether a row may be edited, what an edit does) the view hands it at
// construction.
class TFileListModel : public QAbstractTableModel {
public:
    struct Item {
        TFileInfo* data = nullptr;
        QString caption;
        mutable int imageIndex = 0; // cached when the model is asked for the icon
    };
    struct Actions {
        std::function<bool(int row)> canEdit;
        std::function<void(int row, const QString& text)> edited;
    };

    TFileListModel(QObject* parent, TFileIconProvider* icons, Actions actions)
        : QAbstractTableModel(parent), icons_(icons), actions_(std::move(actions)) {
        captions_ = {rs::text(rs::SName), rs::text(rs::SSize), rs::text(rs::SType),
                     rs::text(rs::SDateModified), rs::text(rs::SAttributes)};
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(items.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : TFileListView::ColumnCount;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || size_t(index.row()) >= items.size())
            return {};
        const Item& item = items[size_t(index.row())];
        switch (role) {
        case Qt::DisplayRole:
            return index.column() == 0
                       ? platform::displayName(item.caption)
                       : FileListCellText(item.data, index.column(), showingDrives_);
        case Qt::EditRole:
            return index.column() == 0 ? QVariant(item.caption) : QVariant();
        case Qt::TextAlignmentRole:
            return alignment(index.column());
        case Qt::ToolTipRole:
            return hint(item);
        case TFileListView::EntryNameRole:
            // Column 0 draws the entry's name, which a caption typed in the editor may not be.
            return item.data ? platform::displayName(platform::fromFsBytes(item.data->Name))
                             : QString();
        case TFileListView::ImageIndexRole:
            // Looked up when first asked (painting); the provider caches it in the entry.
            item.imageIndex = icons_->IconIndexOf(item.data, location_);
            return item.imageIndex;
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= int(captions_.size()))
            return {};
        if (role == Qt::DisplayRole)
            return captions_[size_t(section)];
        if (role == Qt::TextAlignmentRole)
            return alignment(section);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid())
            return Qt::NoItemFlags;
        Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (index.column() == 0 && actions_.canEdit(index.row()))
            result |= Qt::ItemIsEditable;
        return result;
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        if (role != Qt::EditRole || index.column() != 0 || size_t(index.row()) >= items.size())
            return false;
        runGuarded([&] { actions_.edited(index.row(), value.toString()); });
        return true;
    }

    void setCaption(int column, const QString& caption) {
        if (captions_[size_t(column)] == caption)
            return;
        captions_[size_t(column)] = caption;
        emit headerDataChanged(Qt::Horizontal, column, column);
    }

    // The listing the rows come from: the drive list (empty location) or a folder, which is
    // also where the icons' files are.
    bool ShowingDrives() const { return showingDrives_; }
    void setShowingDrives(bool value) { showingDrives_ = value; }
    const QString& location() const { return location_; }
    void setLocation(const QString& location) {
        location_ = location;
        showingDrives_ = location.isEmpty();
    }

    void beginUpdate() {
        beginResetModel();
        items.clear();
    }
    void endUpdate() { endResetModel(); }
    void itemChanged(int row) {
        emit dataChanged(index(row, 0), index(row, TFileListView::ColumnCount - 1));
    }
    void removeItem(int row) {
        beginRemoveRows({}, row, row);
        items.erase(items.begin() + row);
        endRemoveRows();
    }

    std::vector<Item> items;

private:
    static QVariant alignment(int column) {
        return int(column == TFileListView::ColSize ? Qt::AlignRight | Qt::AlignVCenter
                                                    : Qt::AlignLeft | Qt::AlignVCenter);
    }
    QString hint(const Item& item) const;

    TFileIconProvider* icons_; // shared, not owned
    Actions actions_;
    QString location_; // of the last listing; null before the first
    bool showingDrives_ = false;
    std::array<QString, TFileListView::ColumnCount> captions_;
};

// The entry's details (type, date or free space, size), after a note on a name that is not
// UTF-8; empty without an entry.
QString TFileListModel::hint(const Item& item) const {
    const TFileInfo* entry = item.data;
    if (!entry)
        return {};
    QStringList lines;
    if (platform::hasForeignBytes(item.caption))
        lines << NotUtf8NameHint();
    const auto line = [](const char* label, const QString& value) {
        return rs::text(label) + QStringLiteral(": ") + value;
    };
    lines << line(rs::SType, FileTypeTextProc(*item.data));
    if (entry->Attr & faVolumeID) {
        lines << line(rs::SFreeSpace, megaBytes(entry->Time));
        lines << line(rs::SSize, megaBytes(entry->Size));
    } else {
        lines << line(rs::SDateModified, FileDateText(entry->Time));
        lines << line(rs::SSize, QString::number(entry->Size));
    }
    return lines.join(u'\n');
}

namespace {

using Items = std::vector<TFileListModel::Item>;

// The advances of the printable ASCII characters and the kerning of every pair of them, in
// 1/64 pixel. An ASCII name's width is then the sum of its advances and of its pairs' kerning,
// rounded as QFontMetrics rounds: the figure shaping gives, at a fraction of its cost. Learning
// a font takes thousands of shapings, so it is done once per font and only for folders large
// enough to repay it. A font whose shaping is not pairwise (ligatures of three, contextual
// forms) would show on a sample of the names checked against shaping; then all are shaped.
class AsciiAdvances {
public:
    static constexpr char16_t kFirst = 0x20, kLast = 0x7E;
    static constexpr int kCount = kLast - kFirst + 1;

    static const AsciiAdvances& of(const QFont& font) {
        static std::mutex mutex;
        static std::map<QString, std::unique_ptr<const AsciiAdvances>> known;
        const std::lock_guard lock(mutex);
        std::unique_ptr<const AsciiAdvances>& table = known[font.key()];
        if (!table)
            table = std::make_unique<AsciiAdvances>(font);
        return *table;
    }

    explicit AsciiAdvances(const QFont& font) {
        const QFontMetricsF metrics(font);
        // Shaped as texts of one, so that the pairs' differences are kerning alone.
        for (int c = 0; c < kCount; ++c)
            advance_[size_t(c)] =
                qRound64(metrics.horizontalAdvance(QString(QChar(kFirst + c))) * 64);
        QString pair(2, QChar());
        for (int a = 0; a < kCount; ++a) {
            pair[0] = QChar(kFirst + a);
            for (int b = 0; b < kCount; ++b) {
                pair[1] = QChar(kFirst + b);
                kerning_[size_t(a * kCount + b)] =
                    qint32(qRound64(metrics.horizontalAdvance(pair) * 64) - advance_[size_t(a)] -
                           advance_[size_t(b)]);
            }
        }
    }

    // The width of an all-ASCII text, or -1 for any other.
    int width(QStringView text) const {
        qint64 sum = 0;
        int previous = -1;
        for (QChar c : text) {
            const int i = int(c.unicode()) - kFirst;
            if (i < 0 || i >= kCount)
                return -1;
            sum += advance_[size_t(i)];
            if (previous >= 0)
                sum += kerning_[size_t(previous * kCount + i)];
            previous = i;
        }
        return int((sum + 32) >> 6);
    }

    // Whether the sums agree with shaping on a sample of the names.
    bool agrees(const QFont& font, const Items& items) const;

private:
    std::array<qint64, kCount> advance_{};
    std::array<qint32, kCount * kCount> kerning_{};
};

bool AsciiAdvances::agrees(const QFont& font, const Items& items) const {
    const QFontMetrics metrics(font);
    constexpr size_t kSample = 128;
    const size_t step = std::max<size_t>(1, items.size() / kSample);
    for (size_t i = 0; i < items.size(); i += step) {
        const int sum = width(items[i].caption);
        if (sum >= 0 && sum != metrics.horizontalAdvance(items[i].caption))
            return false;
    }
    return true;
}

int widestOf(const QFont& font, const AsciiAdvances* ascii, const Items& items, size_t begin,
             size_t end) {
    const QFontMetrics metrics(font);
    int widest = 0;
    for (size_t i = begin; i < end; ++i) {
        const QString& caption = items[i].caption;
        int width = ascii ? ascii->width(caption) : -1;
        // Most other names are UTF-8: measured as they are, without a copy.
        if (width < 0)
            width = metrics.horizontalAdvance(
                platform::hasForeignBytes(caption) ? platform::displayName(caption) : caption);
        widest = qMax(widest, width);
    }
    return widest;
}

// The widest caption. Shaping every caption of a large folder is the list style's main cost,
// so large lists are measured on several threads; each thread gets a font of its own (a font
// object caches its engine per thread and must not be shared while in use).
int widestCaption(const QFont& font, const Items& items) {
    constexpr size_t kPerThread = 8192;
    if (items.size() < kPerThread)
        return widestOf(font, nullptr, items, 0, items.size());
    const AsciiAdvances* ascii = &AsciiAdvances::of(font);
    if (!ascii->agrees(font, items))
        ascii = nullptr;
    const size_t threads = std::min<size_t>(
        {std::max(1u, std::thread::hardware_concurrency()), 4, items.size() / kPerThread});
    if (threads < 2)
        return widestOf(font, ascii, items, 0, items.size());
    const QString description = font.toString();
    std::vector<int> results(threads, 0);
    std::vector<std::thread> workers;
    const size_t chunk = (items.size() + threads - 1) / threads;
    for (size_t t = 1; t < threads; ++t) {
        workers.emplace_back([&, t] {
            QFont own;
            own.fromString(description);
            results[t] =
                widestOf(own, ascii, items, t * chunk, std::min(items.size(), (t + 1) * chunk));
        });
    }
    results[0] = widestOf(font, ascii, items, 0, chunk);
    for (std::thread& worker : workers)
        worker.join();
    return *std::max_element(results.begin(), results.end());
}

} // namespace

// Paints every cell from the model's data for it, through the view's draw events, and runs the
// in-place editor of the names.
class TFileListItemEditor : public QStyledItemDelegate {
public:
    explicit TFileListItemEditor(TFileListView* view) : QStyledItemDelegate(view), view_(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        runGuarded([&] { PaintCell(*painter, option, index); });
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        const int icon = view_->IconProvider() ? view_->IconProvider()->Height() : 16;
        return {option.rect.width(), qMax(option.fontMetrics.height(), icon) + 2};
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        editingRow_ = index.row();
        return editor;
    }

    void destroyEditor(QWidget* editor, const QModelIndex& index) const override {
        editingRow_ = -1;
        QStyledItemDelegate::destroyEditor(editor, index);
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        if (!line)
            return;
        QString text = line->text();
        text.remove(u'\n');
        // An empty text counts as a cancel.
        if (text.isEmpty())
            return;
        model->setData(index, text, Qt::EditRole);
    }

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override {
        // The editor covers the name, not the icon.
        QRect rect = option.rect;
        rect.setLeft(rect.left() + SystemIconWidth(iscSmall));
        editor->setGeometry(rect);
    }

private:
    struct Colours {
        QPalette::ColorGroup group;
        QBrush brush;
        QColor text;
    };
    Colours ColoursFor(QStyle::State state) const;
    void PaintCell(QPainter& canvas, const QStyleOptionViewItem& option,
                   const QModelIndex& index) const;
    void PaintName(QPainter& canvas, const QStyleOptionViewItem& option,
                   const QModelIndex& index) const;
    void PaintSubItem(QPainter& canvas, const QStyleOptionViewItem& option,
                      const QModelIndex& index, const Colours& colours) const;

    TFileListView* view_;
    mutable int editingRow_ = -1; // the row under the in-place editor, whose name is not drawn
};

TFileListItemEditor::Colours TFileListItemEditor::ColoursFor(QStyle::State state) const {
    const QPalette::ColorGroup group = !(state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (state & QStyle::State_Active) ? QPalette::Active
                                                                        : QPalette::Inactive;
    const bool selected = state & QStyle::State_Selected;
    const QPalette& palette = view_->palette();
    return {group, palette.brush(group, selected ? QPalette::Highlight : QPalette::Base),
            palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text)};
}

void TFileListItemEditor::PaintCell(QPainter& canvas, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    if (!index.isValid() || index.column() >= TFileListView::ColumnCount)
        return;
    canvas.save();
    canvas.setFont(view_->font());
    const Colours colours = ColoursFor(option.state);
    // What a handler of the draw events finds on the canvas: the item's brush and text colour.
    canvas.setBrush(colours.brush);
    canvas.setPen(colours.text);
    if (index.column() == 0)
        PaintName(canvas, option, index);
    else
        PaintSubItem(canvas, option, index, colours);
    canvas.restore();
}

void TFileListItemEditor::PaintName(QPainter& canvas, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    const int item = index.row();
    const QRect cell = option.rect;
    bool defaultDraw = true;
    if (view_->OnCustomDrawItem)
        view_->OnCustomDrawItem(view_, item, canvas, cell, option.state, cdPrePaint, defaultDraw);
    if (defaultDraw) {
        TFileIconProvider& icons = *view_->IconProvider();
        QRect r = cell;
        canvas.fillRect(r, canvas.brush()); // a handler may have changed brush and pen
        r.setTop(r.top() + (r.height() - icons.Height()) / 2);
        icons.Draw(canvas, r.left(), r.top(), index.data(TFileListView::ImageIndexRole).toInt());
        r.setLeft(r.left() + icons.Width() + 2);
        const QString name = index.data(TFileListView::EntryNameRole).toString();
        if (!name.isEmpty() && item != editingRow_)
            DrawItemText(canvas, r, name, false, true);
        if ((option.state & QStyle::State_HasFocus) && item == view_->currentIndex().row()) {
            // The keyboard's place: a dotted frame, which leaves icon and name readable.
            canvas.setPen(QPen(canvas.pen().color(), 1, Qt::DotLine));
            canvas.setBrush(Qt::NoBrush);
            canvas.drawRect(cell.adjusted(0, 0, -1, -1));
        }
    }
    if (view_->OnCustomDrawItem)
        view_->OnCustomDrawItem(view_, item, canvas, cell, option.state, cdPostPaint, defaultDraw);
}

void TFileListItemEditor::PaintSubItem(QPainter& canvas, const QStyleOptionViewItem& option,
                                       const QModelIndex& index, const Colours& colours) const {
    const int item = index.row(), column = index.column();
    const QRect cell = option.rect;
    bool defaultDraw = true;
    if (view_->OnCustomDrawSubItem)
        view_->OnCustomDrawSubItem(view_, item, column, canvas, cell, option.state, cdPrePaint,
                                   defaultDraw);
    if (defaultDraw) {
        if (!view_->RowSelect()) { // only column 0 shows the selection
            canvas.setBrush(view_->palette().brush(colours.group, QPalette::Base));
            canvas.setPen(view_->palette().color(colours.group, QPalette::Text));
        }
        const QRect r = cell.adjusted(3, 0, -3, 0);
        const bool leftAlign = !(index.data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
        canvas.fillRect(cell, canvas.brush());
        DrawItemText(canvas, r, index.data(Qt::DisplayRole).toString(), false, leftAlign);
    }
    if (view_->OnCustomDrawSubItem)
        view_->OnCustomDrawSubItem(view_, item, column, canvas, cell, option.state, cdPostPaint,
                                   defaultDraw);
}

// --- the view ------------------------------------------------------------------------------

TFileListView::TFileListView(QWidget* parent)
    : QTreeView(parent), directory_(std::make_unique<TDirectory>(this)) {
    loading_ = TLayoutLoading::Active();
    iconProvider_ = WindowsIconProvider();
    model_ = new TFileListModel(this, iconProvider_,
                                {[this](int row) { return CanEdit(row); },
                                 [this](int row, const QString& text) { ItemEdited(row, text); }});
    editor_ = new TFileListItemEditor(this);
    setModel(model_);
    setItemDelegate(editor_);

    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(false);
    header()->setStretchLastSection(false);
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int column) { runGuarded([&] { ColumnClick(column); }); });
    setHeaderHidden(viewStyle_ == vsList);

    // What the toolkit does when its widget is created: in Qt, now. The model orders the
    // rows; the view never sorts.
    setSortingEnabled(false);
    header()->setSectionsClickable(true); // after the sorting switch, which resets it
    CreateColumns();
    if (!loading_)
        directory_->UpdateListing(true);
}

TFileListView::~TFileListView() {
    // The model (and its watcher) goes first, while the view it reports to still exists.
    directory_.reset();
}

void TFileListView::CreateColumns() {
    const QFontMetrics metrics(font());
    const int extra = metrics.horizontalAdvance(QStringLiteral("A"));
    const QDateTime now = QDateTime::currentDateTime();
    const std::array<int, ColumnCount> widths = {
        150,
        metrics.horizontalAdvance(QStringLiteral("0000000")),
        metrics.horizontalAdvance(rs::text(rs::SDirectory)),
        metrics.horizontalAdvance(dateTimeText(now.date(), now.time())),
        metrics.horizontalAdvance(rs::text(rs::SAttributes)),
    };
    for (int column = 0; column < ColumnCount; ++column)
        header()->resizeSection(column, widths[size_t(column)] + extra);
}

void TFileListView::SetDirectory(const TDirectory& source) {
    directory_->Assign(source);
}

void TFileListView::SetReadOnly(bool value) {
    readOnly_ = value;
    setEditTriggers(value ? QAbstractItemView::NoEditTriggers
                          : QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
}

void TFileListView::SetRowSelect(bool value) {
    rowSelect_ = value;
    viewport()->update();
}

void TFileListView::SetViewStyle(TViewStyle value) {
    viewStyle_ = value;
    setHeaderHidden(value == vsList);
    if (value == vsReport)
        model_->setCaption(ColDate, rs::text(ShowingDrives() ? rs::SFreeSpace : rs::SDateModified));
}

void TFileListView::Loaded() {
    loading_ = false;
    directory_->UpdateListing(true);
}

bool TFileListView::ShowingDrives() const {
    return model_->ShowingDrives();
}

int TFileListView::ItemCount() const {
    return int(model_->items.size());
}

QString TFileListView::ItemCaption(int item) const {
    return item >= 0 && item < ItemCount() ? model_->items[size_t(item)].caption : QString();
}

TFileInfo* TFileListView::ItemData(int item) const {
    return item >= 0 && item < ItemCount() ? model_->items[size_t(item)].data : nullptr;
}

int TFileListView::ItemImageIndex(int item) const {
    return item >= 0 && item < ItemCount() ? model_->items[size_t(item)].imageIndex : -1;
}

int TFileListView::SelectedItem() const {
    const QModelIndexList rows = selectionModel()->selectedRows(0);
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TFileListView::SelectItem(int item) {
    if (item < 0 || item >= ItemCount()) {
        selectionModel()->clearSelection();
        return;
    }
    const QModelIndex index = model_->index(item, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
}

int TFileListView::ImageWidth() const {
    return iconProvider_ ? iconProvider_->Width() : 0;
}

// --- listing updates -----------------------------------------------------------------------

bool TFileListView::EntryFound(const TSearchRec& file) {
    bool canAdd = true;
    if (OnFileFound)
        OnFileFound(this, file, canAdd);
    return canAdd;
}

bool TFileListView::ListingStarting() {
    model_->setShowingDrives(directory_->Location().isEmpty());
    if (loading_)
        return false;
    if (updating_) // an update that never ended: close it before the next one
        ListingEnded();
    updating_ = true;
    ++generation_;
    // Names, since the rows are about to be rebuilt.
    const TFileInfo* current = ItemData(currentIndex().row());
    const TFileInfo* selected = ItemData(SelectedItem());
    keptCurrent_ = itemKey(current);
    keptSelected_ = itemKey(selected);
    model_->beginUpdate();
    QToolTip::hideText();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    cursorSaved_ = true;
    return true;
}

void TFileListView::ListingEnded() {
    const bool reread =
        !model_->location().isNull() && model_->location() == directory_->Location();
    FinishListing();
    if (reread)
        RestoreCurrentItem();
    else if (!revisit_.isEmpty())
        SelectByName(revisit_, revisit_);
    revisit_.clear();
    if (reread)
        emit folderReread();
}

int TFileListView::ItemNamed(const QByteArray& name) const {
    for (int i = 0; i < ItemCount(); ++i) {
        const TFileInfo* entry = ItemData(i);
        if (!entry)
            continue;
        if (sameFolder(itemKey(entry), name))
            return i;
    }
    return -1;
}

void TFileListView::SelectByName(const QByteArray& current, const QByteArray& selected) {
    const int currentRow = ItemNamed(current);
    if (currentRow >= 0)
        selectionModel()->setCurrentIndex(model_->index(currentRow, 0),
                                          QItemSelectionModel::NoUpdate);
    const int selectedRow = ItemNamed(selected);
    if (selectedRow >= 0)
        selectionModel()->select(model_->index(selectedRow, 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (currentRow >= 0)
        scrollTo(model_->index(currentRow, 0));
}

// A re-read of the same folder (the watcher, F5) keeps the user's place, by name.
void TFileListView::RestoreCurrentItem() {
    SelectByName(keptCurrent_, keptSelected_);
}

void TFileListView::FinishListing() {
    // Also when building the rows fails: the cursor comes back and the update ends.
    const auto finally = qScopeGuard([this] {
        if (std::exchange(cursorSaved_, false))
            QApplication::restoreOverrideCursor();
        if (std::exchange(updating_, false))
            model_->endUpdate();
    });

    model_->setLocation(directory_->Location());
    if (!updating_) { // an update this view never started: rebuild all the same
        updating_ = true;
        model_->beginUpdate();
    }
    const int count = directory_->Count();
    std::vector<TFileListModel::Item>& items = model_->items;
    items.reserve(size_t(count));
    const bool list = viewStyle_ == vsList;
    for (int i = 0; i < count; ++i)
        items.push_back({directory_->Entry(i), directory_->EntryName(i), 0});
    if (list)
        header()->resizeSection(header()->logicalIndex(0),
                                ImageWidth() + widestCaption(font(), items) + 3);
    else
        model_->setCaption(ColDate, rs::text(ShowingDrives() ? rs::SFreeSpace : rs::SDateModified));
}

void TFileListView::LocationChanged(const QString& newLocation) {
    if (ItemCount() > 0)
        verticalScrollBar()->setValue(verticalScrollBar()->minimum());
    if (OnDirectoryChanged)
        OnDirectoryChanged(this, newLocation);
}

void TFileListView::MaskChanged(const QString& newMask) {
    if (OnMaskChange)
        OnMaskChange(this, newMask);
}

// --- sorting and navigation ----------------------------------------------------------------

void TFileListView::ColumnClick(int column) {
    const auto mode = TSortMode(column + 1); // the column's tag + 1
    if (directory_->SortMode() == mode)
        directory_->SetSortDirection(directory_->SortDirection() == sdAscending ? sdDescending
                                                                                : sdAscending);
    else
        directory_->SetSortMode(mode);
}

void TFileListView::GoUp() {
    const QString location = directory_->Location();
    if (location.isEmpty())
        return;
    const QString target =
        IsDriveRoot(location)
            ? QString()
            : NormalizeLocation(platform::withTrailingSlash(location) + QStringLiteral(".."));
    if (target != location) {
        // The folder just left becomes the current item of its parent (a drive, of the list).
        QString left = location;
        if (left.endsWith(u'/') && left.size() > 1)
            left.chop(1);
        revisit_ = platform::toFsBytes(
            IsDriveRoot(location) ? location : left.mid(left.lastIndexOf(u'/') + 1));
        directory_->SetLocation(target);
    }
}

void TFileListView::OpenSelected() {
    const int item = SelectedItem();
    TFileInfo* entry = ItemData(item);
    if (!entry)
        return;
    if (entry->Attr & faDirectory) {
        // The doubled delimiter and ".." are folded by the model's normalization.
        const QString target = directory_->Location() + u'/' + ItemCaption(item);
        directory_->SetLocation(target);
    } else if (entry->Attr & faVolumeID) {
        const QString target = platform::fromFsBytes(entry->FindName());
        directory_->SetLocation(target);
    }
}

bool TFileListView::SelectedIsFolder() const {
    const TFileInfo* entry = ItemData(SelectedItem());
    return entry && (entry->Attr & faDirectory);
}

bool TFileListView::WantsKey(const QKeyEvent& key) const {
    switch (key.key()) {
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        return key.modifiers() & Qt::ShiftModifier;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return SelectedIsFolder();
    default:
        return false;
    }
}

bool TFileListView::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        bool wanted = false;
        runGuarded([&] { wanted = WantsKey(*static_cast<QKeyEvent*>(event)); });
        if (wanted) {
            event->accept();
            return true;
        }
    }
    return QTreeView::event(event);
}

void TFileListView::keyPressEvent(QKeyEvent* event) {
    runGuarded([&] {
        const bool wanted = WantsKey(*event);
        QTreeView::keyPressEvent(event);
        if (event->key() == Qt::Key_F5)
            directory_->UpdateListing(true);
        if (state() == EditingState)
            return;
        if (event->key() == Qt::Key_Backspace) {
            event->accept();
            GoUp();
        } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            if (wanted) // a folder opens here, and the key goes no further (default button)
                event->accept();
            OpenSelected();
        }
    });
}

void TFileListView::mouseDoubleClickEvent(QMouseEvent* event) {
    runGuarded([&] {
        QTreeView::mouseDoubleClickEvent(event);
        const int item = SelectedItem();
        const TFileInfo* entry = ItemData(item);
        if (entry && (entry->Attr & faDirectory) && ItemCaption(item) == QLatin1String(".."))
            GoUp();
        else
            OpenSelected();
    });
}

// --- hints ---------------------------------------------------------------------------------

QString TFileListView::HintText(int item) const {
    const QModelIndex index = model_->index(item, 0);
    const QString details = index.data(Qt::ToolTipRole).toString();
    if (details.isEmpty()) // no entry
        return {};
    // The name leads the hint when the cell cuts it.
    const QString caption = index.data(Qt::DisplayRole).toString();
    QRect r = visualRect(index);
    r.setRight(r.right() - ImageWidth());
    const QRect bounds =
        QFontMetrics(font()).boundingRect(r, Qt::AlignHCenter | Qt::TextWordWrap, caption);
    const bool cut = bounds.width() > r.width() || bounds.height() > r.height();
    return cut ? caption + u'\n' + details : details;
}

bool TFileListView::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QTreeView::viewportEvent(event);
    runGuarded([&] {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QString text = index.isValid() ? HintText(index.row()) : QString();
        if (text.isEmpty()) { // the view's own hint applies
            if (toolTip().isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), toolTip(), this);
            return;
        }
        QRect rect = visualRect(index);
        rect.setLeft(0);
        QToolTip::showText(help->globalPos(), text, viewport(), rect, HintHidePause);
    });
    return true;
}

// --- rename in place -----------------------------------------------------------------------

bool TFileListView::CanEdit(int item) const {
    if (readOnly_)
        return false;
    const TFileInfo* entry = ItemData(item);
    return entry && entry->Name != "..";
}

bool TFileListView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    if (index.isValid() && !CanEdit(index.row()))
        return false;
    return QTreeView::edit(index.siblingAtColumn(0), trigger, event);
}

void TFileListView::ItemEdited(int item, QString text) {
    // Copied before anything can run an event loop: the entry may be gone afterwards.
    const TFileInfo* entry = ItemData(item);
    const QString oldName = entry ? platform::fromFsBytes(entry->Name) : ItemCaption(item);
    const quint64 generation = generation_;
    const std::optional<TRenameResult> result = Rename(item, text, true);
    if (result && !result->ok())
        text = oldName;
    if (generation == generation_ && item < ItemCount()) {
        model_->items[size_t(item)].caption = text;
        model_->itemChanged(item);
    }
    viewport()->update();
}

std::optional<TRenameResult> TFileListView::RenameItem(int item, const QString& newName) {
    return Rename(item, newName, false);
}

std::optional<TRenameResult> TFileListView::Rename(int item, const QString& newName,
                                                   bool deferBox) {
    const QString caption = ItemCaption(item);
    TFileInfo* entry = ItemData(item);
    // File names are case-sensitive here: only the very same text is "the same name".
    if (newName.isEmpty() || caption == newName || !entry)
        return std::nullopt;
    const TRenameResult result = directory_->Rename(entry, newName);
    if (!result.ok()) {
        const QString message = result.Code == TRenameResult::NameTaken
                                    ? rs::text(rs::SFileNameTaken)
                                    : rs::format(rs::SAccessDeniedTo, {caption});
        if (deferBox) // not inside the editor's commit: the box runs an event loop
            QTimer::singleShot(0, this,
                               [message] { runGuarded([&] { ShowErrorMessage(message); }); });
        else
            ShowErrorMessage(message);
        return result;
    }
    if ((result.Entry->Attr & faHidden) && !directory_->FileType().contains(ftHidden)) {
        if (!deferBox) {
            RemoveItem(item);
        } else {
            // The editor is still closing on this row: remove it once the edit has ended.
            const quint64 generation = generation_;
            TFileInfo* renamed = result.Entry;
            QTimer::singleShot(0, this, [this, generation, item, renamed] {
                if (generation == generation_ && ItemData(item) == renamed)
                    RemoveItem(item);
            });
            model_->items[size_t(item)].data = result.Entry;
        }
        return result;
    }
    model_->items[size_t(item)].data = result.Entry;
    model_->items[size_t(item)].caption = newName;
    model_->itemChanged(item);
    return result;
}

void TFileListView::RemoveItem(int item) {
    if (item >= 0 && item < ItemCount())
        model_->removeItem(item);
}
