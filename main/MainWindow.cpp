#include "main/MainWindow.h"

#include "ui_MainWindow.h"

#include "base/ApplicationException.h"
#include "base/Exception.h"
#include "base/ResourceStrings.h"
#include "filectrls/DirectoryTreeView.h"
#include "filectrls/FileListView.h"
#include "filectrls/LayoutLoading.h"
#include "index/IndexPageWriter.h"
#include "index/LinkTargets.h"
#include "main/ErrorBox.h"
#include "main/StatusTexts.h"
#include "platform/FsString.h"
#include "platform/HeldFolder.h"
#include "platform/Paths.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMetaObject>
#include <QProxyStyle>
#include <QPushButton>
#include <QScopeGuard>
#include <QShortcut>
#include <QStatusBar>
#include <QUrl>

#include <cerrno>
#include <exception>
#include <fcntl.h>

namespace {

// The menu bar's own keyboard navigation (Alt alone, then the arrows, Return and Esc), which
// not every style turns on.
class MenuKeyboardStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_MenuBar_AltKeyNavigation)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Whether the folder is certainly gone (not merely unreadable).
bool folderGone(const QString& folder) {
    platform::FileHandle held;
    const int err = platform::openFolder(
        AT_FDCWD, platform::withoutTrailingSlash(platform::toFsBytes(folder)), true, held);
    return err == ENOENT || err == ENOTDIR;
}

} // namespace

QString TForm1::DesignTimeFolder() {
    QString home = platform::fromFsBytes(qgetenv("HOME"));
    if (home.isEmpty())
        home = QDir::homePath();
    while (home.endsWith(QLatin1Char('/')))
        home.chop(1);
    return home + QStringLiteral("/orvina/СорникЗемля/РТ/Законы/");
}

TForm1::TForm1(const QString& startFolder, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::TForm1>()) {
    {
        // The controls enter their loading state as the layout creates them.
        TLayoutLoading loading;
        ui_->setupUi(this);
    }
    // A top-level window's place is not part of what the layout applies; the size is.
    move(193, 103);

    TDirectoryTreeView* tree = ui_->DirectoryTreeView1;
    TFileListView* list = ui_->FileListView1;
    tree->BeginLoading();
    list->BeginLoading();
    // What the layout file cannot hold. While loading, the tree only stores the folder and the
    // list refuses the listing updates that the mask and the watcher would start.
    tree->SetDirectory(startFolder);
    list->Directory().SetFileMask(QStringLiteral("*_.txt"));
    list->Directory().SetAutoUpdate(true);

    tree->OnChange = [this](QObject* sender, TDirectoryNode* node) {
        DirectoryTreeView1Change(sender, node);
    };
    list->OnDirectoryChanged = [this](QObject* sender, const QString& newDir) {
        FileListView1DirectoryChanged(sender, newDir);
    };
    connect(ui_->N1, &QAction::triggered, this, [this] { N1Click(ui_->N1); });
    connect(ui_->BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(ui_->BitBtn1); });
    ui_->BitBtn1->installEventFilter(this);
    // Queued: said once the window is up, and not in the middle of the tree's own work.
    connect(
        tree, &TDirectoryTreeView::watchingStopped, this,
        [this] { ShowStatus(rs::text(rs::STreeNotWatched)); }, Qt::QueuedConnection);
    // Queued: the list is still inside its update when it reports it.
    connect(list, &TFileListView::folderReread, this, &TForm1::FileListView1FolderReread,
            Qt::QueuedConnection);

    // End of loading in creation order: the tree builds its roots and walks to its folder
    // (no OnChange); an error here leaves the constructor and the start fails.
    tree->Loaded();
    list->Loaded();

    SetUpKeyboardAndNames();
    FormCreate(this);
    // The tree went as deep as the folders exist: say where the window is instead.
    const QString asked = platform::withTrailingSlash(NormalizeLocation(startFolder));
    if (!tree->Directory().isEmpty() && tree->Directory() != asked)
        ShowStatus(statustext::startFolderMissing(asked, tree->Directory()));
}

TForm1::~TForm1() = default;

TDirectoryTreeView* TForm1::DirectoryTreeView1() const {
    return ui_->DirectoryTreeView1;
}

TFileListView* TForm1::FileListView1() const {
    return ui_->FileListView1;
}

QLabel* TForm1::Label1() const {
    return ui_->Label1;
}

QPushButton* TForm1::BitBtn1() const {
    return ui_->BitBtn1;
}

QStatusBar* TForm1::StatusBar1() const {
    return ui_->StatusBar1;
}

void TForm1::FormCreate(QObject* /*sender*/) {
    runGuarded([this] { FollowTree(); });
}

void TForm1::DirectoryTreeView1Change(QObject* /*sender*/, TDirectoryNode* /*node*/) {
    if (followingList_)
        return;
    runGuarded([this] { FollowTree(); });
}

void TForm1::N1Click(QObject* /*sender*/) {
    runGuarded([this] { close(); });
}

void TForm1::BitBtn1Click(QObject* /*sender*/) {
    runGuarded([this] {
        // The wait cursor until the click's work is done, however the scope is left.
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
        const QString folder = ui_->DirectoryTreeView1->Directory();
        if (folder.isEmpty())
            return; // the button is disabled then; nothing is written into the working folder
        TFileListView* list = ui_->FileListView1;
        if (platform::withTrailingSlash(list->Directory().Location()) != folder)
            list->Directory().SetLocation(folder); // the page lists the tree's folder, nothing else
        // Gone just now (the watcher may not have told yet): nothing is written anywhere.
        if (LeaveGoneFolder(folder))
            return;
        if (list->Directory().ListingError() != 0) {
            // A folder that could not be read is not empty: its page stays as it is.
            Exception error(rs::format(rs::SCannotReadDirectory, {folder}));
            error.SetFailedPath(platform::toFsBytes(folder));
            throw error;
        }
        // Copied before anything can run a nested event loop that re-reads the listing.
        QList<IndexEntry> entries;
        entries.reserve(list->ItemCount());
        for (int i = 0; i < list->ItemCount(); ++i) {
            IndexEntry entry;
            // Name and kind are all a page needs: no stat per entry.
            if (const TFileInfo* record = list->ListedItem(i))
                entry = IndexEntry::fromSearchRec(*record);
            entry.name = platform::toFsBytes(list->ItemCaption(i));
            entries.append(entry);
        }
        int documents = 0;
        try {
            documents = IndexPageWriter::write(platform::toFsBytes(folder), folder, entries);
        } catch (const Exception& e) {
            openPage_->hide();
            ShowStatus(statustext::pageFailed(e.FailedPath(), folder, e.Message()));
            throw;
        }
        ShowStatus(statustext::pageWritten(folder + QLatin1String(IndexPageWriter::PageName),
                                           documents, missingLinkTargets(folder, entries)));
        OfferPage(folder + QLatin1String(IndexPageWriter::PageName));
    });
}

void TForm1::FileListView1DirectoryChanged(QObject* /*sender*/, const QString& newDir) {
    runGuarded([this, newDir] {
        TDirectoryTreeView* tree = ui_->DirectoryTreeView1;
        const QString target = platform::withTrailingSlash(newDir);
        std::exception_ptr failure;
        if (target != tree->Directory()) {
            followingList_ = true;
            try {
                if (target.isEmpty()) {
                    // The drive list: no folder is selected.
                    tree->selectionModel()->clear();
                } else {
                    tree->SetDirectory(target);
                }
            } catch (...) {
                failure = std::current_exception();
            }
            followingList_ = false;
        }
        SetLabelCaption(tree->Directory());
        UpdateIndexButton();
        // The list's location cannot be written while it reports its change: queue it.
        if (tree->Directory() != target)
            QMetaObject::invokeMethod(this, &TForm1::PutListOnTree, Qt::QueuedConnection);
        else if (ui_->FileListView1->Directory().ListingError() != 0)
            QMetaObject::invokeMethod(this, &TForm1::CheckListedFolder, Qt::QueuedConnection);
        else
            ui_->StatusBar1->clearMessage();
        if (failure)
            std::rethrow_exception(failure);
    });
}

void TForm1::FileListView1FolderReread() {
    runGuarded([this] {
        TDirectoryTreeView* tree = ui_->DirectoryTreeView1;
        TDirectoryNode* node = tree->Selected();
        const QString folder = tree->Directory();
        if (!node ||
            platform::withTrailingSlash(ui_->FileListView1->Directory().Location()) != folder)
            return; // the list has moved on meanwhile
        tree->RefreshNode(node);
        if (tree->Directory() != folder) {
            FollowTree();
            ShowStatus(statustext::folderGone(folder, tree->Directory()));
            return;
        }
        if (ui_->FileListView1->Directory().ListingError() != 0) {
            CheckListedFolder();
            return;
        }
        UpdateIndexButton(); // readable again
        if (std::exchange(unreadableShown_, false))
            ui_->StatusBar1->clearMessage();
    });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize || event->type() == QEvent::Show) {
        if (watched == ui_->Panel1)
            ShowLabelText();
        else if (watched == ui_->StatusBar1)
            ShowStatusText();
    }
    if (watched == ui_->MainMenu1 && menuReturnFocus_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        // Esc leaves a menu bar that F10 opened and gives the keyboard back.
        ui_->MainMenu1->setActiveAction(nullptr);
        menuReturnFocus_->setFocus(Qt::MenuBarFocusReason);
        menuReturnFocus_.clear();
        return true;
    }
    if (watched == ui_->BitBtn1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (!key->isAutoRepeat()) // a held key writes the page once
                ui_->BitBtn1->click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        errorbox::setApplicationEnding(true);
}

void TForm1::FollowTree() {
    const QString folder = ui_->DirectoryTreeView1->Directory();
    SetLabelCaption(folder);
    UpdateIndexButton();
    ui_->StatusBar1->clearMessage();
    ui_->FileListView1->Directory().SetLocation(folder);
    CheckListedFolder();
}

void TForm1::CheckListedFolder() {
    runGuarded([this] {
        TDirectoryTreeView* tree = ui_->DirectoryTreeView1;
        const TDirectory& listing = ui_->FileListView1->Directory();
        const QString folder = tree->Directory();
        const int error = listing.ListingError();
        if (error == 0 || folder.isEmpty() ||
            platform::withTrailingSlash(listing.Location()) != folder)
            return;
        if ((error == ENOENT || error == ENOTDIR) && LeaveGoneFolder(folder))
            return;
        ShowStatus(statustext::folderUnreadable(folder, error));
        unreadableShown_ = true;
        ui_->BitBtn1->setEnabled(false);
    });
}

bool TForm1::LeaveGoneFolder(const QString& folder) {
    TDirectoryTreeView* tree = ui_->DirectoryTreeView1;
    if (ui_->FileListView1->Directory().ListingError() == 0 && !folderGone(folder))
        return false;
    tree->RefreshNode(tree->Selected());
    if (tree->Directory() == folder)
        return false;
    FollowTree();
    ShowStatus(statustext::folderGone(folder, tree->Directory()));
    return true;
}

void TForm1::ShowStatus(const QString& text) {
    statusText_ = text;
    unreadableShown_ = false;
    ShowStatusText();
}

void TForm1::ShowStatusText() {
    QStatusBar* bar = ui_->StatusBar1;
    int width = bar->width() - 24;
    if (openPage_->isVisible())
        width -= openPage_->sizeHint().width() + 8;
    // Until the window is laid out its widths mean nothing: the text stays whole.
    QString shown = bar->isVisible() ? bar->fontMetrics().elidedText(statusText_, Qt::ElideMiddle,
                                                                     qMax(width, 0))
                                     : statusText_;
    if (shown.isEmpty() && !statusText_.isEmpty())
        shown = QStringLiteral("…");
    bar->showMessage(shown);
    bar->setToolTip(statusText_);
    // What the status says is the bar's name for screen readers; setting it tells them.
    bar->setAccessibleName(statusText_.isEmpty() ? rs::text(rs::SStatusBarName) : statusText_);
    QAccessibleEvent changed(bar, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

void TForm1::SetLabelCaption(const QString& caption) {
    // Names that are not UTF-8 read as their code page's letters; the tree keeps their bytes.
    labelText_ = platform::displayName(caption);
    ShowLabelText();
}

void TForm1::ShowLabelText() {
    QLabel* label = ui_->Label1;
    const int width = ui_->Panel1->width() - label->x() - 8;
    label->setText(label->isVisible() ? label->fontMetrics().elidedText(labelText_, Qt::ElideMiddle,
                                                                        qMax(width, 0))
                                      : labelText_);
    label->adjustSize(); // the label grows with its caption
    label->setToolTip(labelText_);
    label->setAccessibleName(labelText_);
}

void TForm1::OfferPage(const QString& page) {
    writtenPage_ = page;
    openPage_->show();
    ShowStatusText();
}

void TForm1::OpenPage() {
    runGuarded([this] {
        // Handed to the desktop's browser; a page that cannot be opened is said in the status.
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(writtenPage_)))
            ShowStatus(rs::format(rs::SPageNotOpened, {platform::displayName(writtenPage_)}));
    });
}

void TForm1::SetUpKeyboardAndNames() {
    ui_->DirectoryTreeView1->setAccessibleName(rs::text(rs::SFolderTreeName));
    ui_->FileListView1->setAccessibleName(rs::text(rs::SFolderContentsName));
    ui_->Label1->setAccessibleDescription(rs::text(rs::SSelectedFolderName));
    ui_->StatusBar1->setAccessibleName(rs::text(rs::SStatusBarName));

    openPage_ = new QPushButton(rs::text(rs::SOpenPage), ui_->StatusBar1);
    openPage_->setObjectName(QStringLiteral("OpenPage"));
    openPage_->setFlat(true);
    openPage_->hide();
    ui_->StatusBar1->addPermanentWidget(openPage_);
    connect(openPage_, &QPushButton::clicked, this, &TForm1::OpenPage);
    // The status is cleared when the window moves to another folder: the offer goes with it.
    connect(ui_->StatusBar1, &QStatusBar::messageChanged, this, [this](const QString& message) {
        if (!message.isEmpty())
            return;
        statusText_.clear();
        unreadableShown_ = false;
        if (openPage_->isVisible()) {
            openPage_->hide();
            writtenPage_.clear();
        }
        ShowStatusText();
    });
    ui_->Panel1->installEventFilter(this);
    ui_->StatusBar1->installEventFilter(this);

    // Alt alone and F10 put the menu bar under the keyboard: arrows, Return, Esc.
    QMenuBar* menu = ui_->MainMenu1;
    auto* style = new MenuKeyboardStyle;
    style->setParent(this); // outlives the menu bar, which uses it until it goes
    menu->setStyle(style);
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this, [this, menu] {
        menuReturnFocus_ = QApplication::focusWidget();
        menu->setFocus(Qt::MenuBarFocusReason);
        menu->setActiveAction(menu->actions().value(0));
    });
    menu->installEventFilter(this);
}

void TForm1::UpdateIndexButton() {
    ui_->BitBtn1->setEnabled(!ui_->DirectoryTreeView1->Directory().isEmpty());
}

void TForm1::PutListOnTree() {
    runGuarded([this] {
        const QString folder = ui_->DirectoryTreeView1->Directory();
        TDirectory& model = ui_->FileListView1->Directory();
        if (platform::withTrailingSlash(model.Location()) != folder)
            model.SetLocation(folder);
    });
}
