#pragma once
#include "service/uAccount.h"
#include "service/uApiClient.h"

#include <QDialog>
#include <QList>
#include <QString>

class QComboBox;
class QItemSelection;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QResizeEvent;
class QTreeWidget;
class QTreeWidgetItem;

// The extraction item manager: the account's items as an editable working copy, the
// testing companies' catalogue to fill it from, and a save that replaces the stored
// list. Nothing reaches the service before "保存"; closing drops unsaved changes.
class TItemManagerForm : public QDialog {
    Q_OBJECT
public:
    // Builds the window and loads the items and the catalogue. AApi must outlive the
    // window; AAccount signs it in again when the service has forgotten its token.
    TItemManagerForm(QWidget* AOwner, TApiClient& AApi, const TAccount& AAccount);

    // The first row whose name equals AName with only A to Z folded; null when none.
    QTreeWidgetItem* FindItem(const QString& AName) const;
    // Updates the aliases of the row named AName (its name keeps its letters) or
    // appends a row; the row gets the focus mark and is scrolled into view.
    void AddOrUpdateItem(const QString& AName, const QString& AAliases);
    // The table as an item list, in row order.
    QList<TExtractItem> Items() const;
    const QList<TExtractItem>& Catalog() const { return FCatalog; }

    QTreeWidget* FLV = nullptr;
    QLineEdit* FEdtName = nullptr;
    QLineEdit* FEdtAliases = nullptr;
    QComboBox* FCboCatalog = nullptr;

    QWidget* pnlBottom = nullptr;
    QLabel* lblHeader = nullptr;
    QLabel* lblName = nullptr;
    QLabel* lblAliases = nullptr;
    QLabel* lblCatalog = nullptr;
    QLabel* lblNote = nullptr;
    QPushButton* btnAddUpdate = nullptr;
    QPushButton* btnAddCatalog = nullptr;
    QPushButton* btnDelete = nullptr;
    QPushButton* btnReset = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnClose = nullptr;
    // In place of the note while no load has succeeded: 保存 would replace the stored
    // list with a table that never held it.
    QPushButton* btnReload = nullptr;

protected:
    void resizeEvent(QResizeEvent* AEvent) override;
    void keyPressEvent(QKeyEvent* AEvent) override;

private:
    void LoadItems();
    void LVSelectionChanged(const QItemSelection& ASelected);
    void btnAddUpdateClick();
    void btnAddCatalogClick();
    void btnDeleteClick();
    void btnResetClick();
    void btnSaveClick();
    void LayoutDocked();

    TApiClient& FApi;
    TAccount FAccount;
    QList<TExtractItem> FCatalog;
    int FHeaderHeight = 0;
    int FBottomHeight = 0;
};

// Shows the item manager modally and destroys it when it closes. AApi is used on this
// thread only, while the window is open, signed in with AAccount.
void ShowItemManager(QWidget* AOwner, TApiClient& AApi, const TAccount& AAccount);
