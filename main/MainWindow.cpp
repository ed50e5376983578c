#include "main/MainWindow.h"

#include "ui_MainWindow.h"

#include "base/ApplicationException.h"
#include "base/Exception.h"
#include "base/ResourceStrings.h"
#include "filectrls/DirectoryTreeView.h"
#include "filectrls/FileListView.h"
#include "filectrls/LayoutLoading.h"
#include "index/IndexPageWriter.h"
#include "main/ErrorBox.h"
#include "main/StatusTexts.h"
#include "platform/FsString.h"
#include "platform/Paths.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMetaObject>
#include <QScopeGuard>
#include <QStatusBar>

#include <cerrno>
#include <exception>

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
    // Queued: the list is still inside its update when it reports it.
    connect(list, &TFileListView::folderReread, this, &TForm1::FileListView1FolderReread,
            Qt::QueuedConnection);

    // End of loading in creation order: the tree builds its roots and walks to its folder
    // (no OnChange); an error here leaves the constructor and the start fails.
    tree->Loaded();
    list->Loaded();

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
            if (const TFileInfo* record = list->ItemData(i))
                entry = IndexEntry::fromSearchRec(*record);
            entry.name = platform::toFsBytes(list->ItemCaption(i));
            entries.append(entry);
        }
        int documents = 0;
        try {
            documents = IndexPageWriter::write(platform::toFsBytes(folder), folder, entries);
        } catch (const Exception& e) {
            ShowStatus(statustext::pageFailed(e.FailedPath(), folder, e.Message()));
            throw;
        }
        ShowStatus(
            statustext::pageWritten(folder + QLatin1String(IndexPageWriter::PageName), documents));
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
        if (ui_->FileListView1->Directory().ListingError() != 0)
            CheckListedFolder();
        else
            UpdateIndexButton(); // readable again
    });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
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
        if (error == ENOENT || error == ENOTDIR) {
            tree->RefreshNode(tree->Selected());
            if (tree->Directory() != folder) {
                FollowTree();
                ShowStatus(statustext::folderGone(folder, tree->Directory()));
                return;
            }
        }
        ShowStatus(statustext::folderUnreadable(folder, error));
        ui_->BitBtn1->setEnabled(false);
    });
}

void TForm1::ShowStatus(const QString& text) {
    ui_->StatusBar1->showMessage(text);
}

void TForm1::SetLabelCaption(const QString& caption) {
    // Names that are not UTF-8 read as their code page's letters; the tree keeps their bytes.
    ui_->Label1->setText(platform::displayName(caption));
    ui_->Label1->adjustSize(); // the label grows with its caption
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
