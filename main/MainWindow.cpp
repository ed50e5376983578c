#include "main/MainWindow.h"

#include "ui_MainWindow.h"

#include "filectrls/DirectoryTreeView.h"
#include "filectrls/FileListView.h"
#include "filectrls/LayoutLoading.h"
#include "index/ApplicationException.h"
#include "index/Exception.h"
#include "index/IndexPageWriter.h"
#include "main/ErrorBox.h"
#include "platform/FsString.h"
#include "resources/ResourceStrings.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMetaObject>

#include <exception>

namespace {

QString withDelimiter(QString path) {
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

// The wait cursor for the life of the object; the previous cursor comes back however the
// scope is left.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

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

    // End of loading in creation order: the tree builds its roots and walks to its folder
    // (no OnChange); an error here leaves the constructor and the start fails.
    tree->Loaded();
    list->Loaded();

    FormCreate(this);
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
        WaitCursor wait;
        const QString folder = ui_->DirectoryTreeView1->Directory();
        if (folder.isEmpty())
            return; // the button is disabled then; nothing is written into the working folder
        TFileListView* list = ui_->FileListView1;
        if (withDelimiter(list->Directory().Location()) != folder)
            list->Directory().SetLocation(folder); // the page lists the tree's folder, nothing else
        if (list->Directory().ListingError() != 0) {
            // A folder that could not be read is not empty: its page stays as it is.
            Exception error(
                QString::fromUtf8(rs::SCannotReadDirectory).replace(QLatin1String("%s"), folder));
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
            entry.caption = list->ItemCaption(i);
            entries.append(entry);
        }
        IndexPageWriter::write(folder, entries);
    });
}

void TForm1::FileListView1DirectoryChanged(QObject* /*sender*/, const QString& newDir) {
    runGuarded([this, newDir] {
        TDirectoryTreeView* tree = ui_->DirectoryTreeView1;
        const QString target = withDelimiter(newDir);
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
        if (failure)
            std::rethrow_exception(failure);
    });
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
    ui_->FileListView1->Directory().SetLocation(folder);
}

void TForm1::SetLabelCaption(const QString& caption) {
    ui_->Label1->setText(caption);
    ui_->Label1->adjustSize(); // the label grows with its caption
}

void TForm1::UpdateIndexButton() {
    ui_->BitBtn1->setEnabled(!ui_->DirectoryTreeView1->Directory().isEmpty());
}

void TForm1::PutListOnTree() {
    runGuarded([this] {
        const QString folder = ui_->DirectoryTreeView1->Directory();
        TDirectory& model = ui_->FileListView1->Directory();
        if (withDelimiter(model.Location()) != folder)
            model.SetLocation(folder);
    });
}
