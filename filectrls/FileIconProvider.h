#pragma once
// Icon providers: one shared image list that answers an image index for a listed entry.
#include "filectrls/FileInfo.h"

#include <QHash>
#include <QPixmap>
#include <QSet>
#include <QString>

#include <vector>

class QIcon;
class QPainter;

enum TIconScale : quint8 { iscSmall, iscLarge, iscExtraLarge };

// The style's small or large icon size; 0 for any other value.
int SystemIconWidth(TIconScale scale);

// The base provider: six standard images chosen by the entry's attributes, plus the link
// overlay, all from the program's own QFC_* bitmaps.
class TFileIconProvider {
public:
    // Standard image indexes, fixed for every provider.
    enum StandardImage {
        ClosedFolder = 0,
        OpenFolder = 1,
        HiddenClosedFolder = 2,
        HiddenOpenFolder = 3,
        File = 4,
        HiddenFile = 5,
        LinkOverlay = 6 // the base provider's only; the shell-backed one has none
    };

    explicit TFileIconProvider(TIconScale scale);
    virtual ~TFileIconProvider();
    TFileIconProvider(const TFileIconProvider&) = delete;
    TFileIconProvider& operator=(const TFileIconProvider&) = delete;

    TIconScale IconScale() const { return iconScale_; }
    int Width() const;
    int Height() const;
    int Count() const;
    // Draws image `index` at (x, y); -1 (or any index outside the list) draws nothing.
    void Draw(QPainter& canvas, int x, int y, int index) const;
    // The image itself (a null pixmap for an index outside the list).
    QPixmap Image(int index) const;

    // The image index for the entry (none: nullptr); folder holds the entry.
    virtual int IconIndexOf(TFileInfo* entry, const QString& folder);
    virtual void DrawLinkOverlay(QPainter& canvas, int x, int y);

    // The program's own bitmap `name` ("QFC_FLDCLOSED") for a pixel size. The bitmaps exist
    // in 16, 32 and 48 pixels; another size scales the nearest one, so that a style with an
    // unusual icon size still gets every standard image.
    static QPixmap StandardBitmap(const QString& name, int size);

protected:
    // For derived providers, which load their own standard images in their constructor: a
    // virtual call from this constructor would not reach their override.
    struct NoStandardImages {};
    TFileIconProvider(TIconScale scale, NoStandardImages);

    virtual void LoadStandardImages();
    // Adds an image, fitted to Width() x Height(); answers its index.
    int AddImage(const QPixmap& image);

    TIconScale iconScale_;
    int size_;
    std::vector<QPixmap> images_;
    // Key text (an extension, a full path or a drive's root path) -> image index; keys compare
    // exactly. Only the shell-backed provider uses it; an absent key reads as -1.
    QHash<QString, int> IconCache;
};

// The shell-backed provider. On Linux the "shell" is the freedesktop icon theme and the MIME
// database; where the theme has nothing, the standard images are the program's own bitmaps.
class TWindowsFileIconProvider : public TFileIconProvider {
public:
    explicit TWindowsFileIconProvider(TIconScale scale);

    int IconIndexOf(TFileInfo* entry, const QString& folder) override;

    // The cached image index of a key, -1 when absent.
    int CachedIndex(const QString& key) const { return IconCache.value(key, -1); }

protected:
    void LoadStandardImages() override;

    // The icon the theme has for a drive's root path; false when it has none.
    virtual bool DriveIcon(const QString& rootPath, QIcon& icon);
    // The default icon the type database names for a key: an extension (".txt") is looked up
    // by name, a full path by the file's content and name. False when there is none (unknown
    // type, or the theme has no icon for it).
    virtual bool FindDefaultIcon(const QString& key, QIcon& icon);
    // The index of a new image made from the icon, or -1 when it yields no image.
    virtual int AddIconFromFile(const QIcon& icon);

private:
    // IconIndexOf for a drive (keyed by its root path) and for a file (keyed by extension, or
    // by full path for programs and names without extension).
    int DriveIndexOf(TFileInfo& entry);
    int FileIndexOf(TFileInfo& entry, const QString& folder);

    // Keys whose look-up found nothing at all: their entries take the standard file image
    // without a second look-up (the theme and the type database do not change while we run).
    QSet<QString> noIcon_;
    // Our own drive bitmap's index, added on first need.
    int ownDriveImage_ = -1;
};

// Creates a provider of some class for a scale: the unit-wide "class reference".
using TFileIconProviderClass = TFileIconProvider* (*)(TIconScale scale);
// Unset (nullptr) until the first WindowsIconProvider() call, which sets it to the
// shell-backed provider. Nothing in the program sets it; tests may, before the first call.
extern TFileIconProviderClass FileIconProviderClass;
TFileIconProvider* CreateWindowsFileIconProvider(TIconScale scale);
TFileIconProvider* CreateFileIconProvider(TIconScale scale);

// The shared provider, created on first use with iscSmall; freed by FreeSharedIconProvider()
// after the views and before the application object is destroyed (the provider holds
// pixmaps). As a last net the application object's post routines free it too.
TFileIconProvider* WindowsIconProvider();
void FreeSharedIconProvider();

// Whether a file counts as a program: a regular file with an execute bit (owner, group or
// others) whose content is a program (a binary, a shared library, a script). The content
// decides, as file systems without modes (FAT, NTFS) mark every file executable. The
// shell-backed provider keys a program's icon by its full path, as it does for files without
// extension and ".exe" files; it never asks this of devices and FIFOs.
bool IsProgramFile(const QString& path);
