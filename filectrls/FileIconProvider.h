#pragma once
// Icon providers: one shared image list that answers an image index for a listed entry.
// (Declarations that the views rely on; the icon work owns and extends this header.)
#include "filectrls/FileInfo.h"

#include <QPixmap>
#include <QString>

#include <vector>

class QPainter;

enum TIconScale : quint8 { iscSmall, iscLarge, iscExtraLarge };

// The style's small or large icon size; 0 for any other value.
int SystemIconWidth(TIconScale scale);

class TFileIconProvider {
public:
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

    // The image index for the entry (none: nullptr); folder holds the entry.
    virtual int IconIndexOf(TFileInfo* entry, const QString& folder);
    virtual void DrawLinkOverlay(QPainter& canvas, int x, int y);

protected:
    virtual void LoadStandardImages();
    int AddImage(const QPixmap& image);

    TIconScale iconScale_;
    std::vector<QPixmap> images_;
};

// The shared provider, created on first use with iscSmall; freed by FreeSharedIconProvider()
// after the views and before the application object is destroyed.
TFileIconProvider* WindowsIconProvider();
void FreeSharedIconProvider();
