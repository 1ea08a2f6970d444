#pragma once
#include <QImage>
#include <QStringList>
#include <QTreeWidget>

class QMimeData;

// The list of received items. Files dropped on it, or pasted into it with the paste key,
// are offered to the window as files or as a picture.
class TItemListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TItemListView(QWidget* AParent = nullptr);

    // What a drop or a paste of AData brings: local files, else a picture. True when
    // there was something to take.
    bool Take(const QMimeData* AData);

Q_SIGNALS:
    void FilesDropped(const QStringList& APaths);
    void ImagePasted(const QImage& AImage);

protected:
    void dragEnterEvent(QDragEnterEvent* AEvent) override;
    void dragMoveEvent(QDragMoveEvent* AEvent) override;
    void dropEvent(QDropEvent* AEvent) override;
    void keyPressEvent(QKeyEvent* AEvent) override;
};
