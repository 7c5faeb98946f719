#pragma once

#include <QMainWindow>
#include <QStringList>

class QAction;
class QKeyEvent;
class QLabel;
class QMenu;
class QMenuBar;

namespace toolkit {
class LookProvider;
}

// The drum-kit window: the kit seen from above with the two keys of every drum written over
// it, and the menus "Main" and "Options". Every key press it gets plays a drum.
class Main : public QMainWindow {
    Q_OBJECT
public:
    Main();

    // Start-up: chooses the look, then leaves the building of the first window to the event
    // loop. The arguments are not read. The application object must exist.
    static void main(const QStringList& args);
    static void main(const QStringList& args, toolkit::LookProvider& looks);

    // Plays the drum bound to the pressed key, if any.
    void KeyListener(QKeyEvent* event);

    void aboutMenuItemActionPerformed(bool checked);
    void exitMenuItemActionPerformed(bool checked);
    void jCheckBoxMenuItem1ActionPerformed(bool checked);
    void jMenuItem1ActionPerformed(bool checked);

    static constexpr int pictureWidth = 601;
    static constexpr int pictureHeight = 441;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // initComponents makes the components in their order, then lays out the window, its key
    // labels over the picture, and its menus.
    void initComponents();
    void createComponents();
    void placeKeyLabels(QWidget* content);
    void buildMenus();
    // The field of the key label jLabel<number>.
    QLabel*& keyLabel(int number);

    QLabel* jLabel2;
    QLabel* jLabel3;
    QLabel* jLabel4;
    QLabel* jLabel5;
    QLabel* jLabel6;
    QLabel* jLabel7;
    QLabel* jLabel8;
    QLabel* jLabel9;
    QLabel* jLabel10;
    QLabel* jLabel11;
    QLabel* jLabel12;
    QLabel* jLabel13;
    QLabel* jLabel14;
    QLabel* jLabel15;
    QLabel* jLabel16;
    QLabel* jLabel17;
    QLabel* jLabel18;
    QLabel* jLabel19;
    QLabel* jLabel20;
    QLabel* jLabel21;
    QLabel* jLabel22;
    QLabel* jLabel23;
    QLabel* jLabel24;
    QLabel* jLabel25;
    QLabel* jLabel26;
    QMenuBar* menuBar;
    QMenu* fileMenu;
    QAction* aboutMenuItem;
    QAction* exitMenuItem;
    QMenu* helpMenu;
    QAction* jCheckBoxMenuItem1;
    QAction* jMenuItem1;
};
