#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>

class ChoiceBox;
class QCloseEvent;
class QComboBox;
class QLabel;
class QPushButton;

namespace drums {
struct Binding;
}

namespace toolkit {
class LookProvider;
}

// The key-configuration window: the two keys of every drum and the kit, chosen from lists.
// Save and Close is its only way out; it then gives way to a new main window.
class Keys : public QWidget {
    Q_OBJECT
public:
    Keys();

    // Start of the window's own program: chooses the look, then leaves the building of one
    // configuration window to the event loop. The application object must exist.
    static void main(const QStringList& args);
    static void main(const QStringList& args, toolkit::LookProvider& looks);

    // Builds and shows a new main window. The program sets it before any window exists;
    // this window cannot know the main window's class.
    static std::function<void()> openMainWindow;

    void saveAndCloseActionPerformed(bool checked);
    void resetActionPerformed(bool checked);
    void drumFolderboxActionPerformed();
    void drumFolderboxPopupMenuCanceled();

    static constexpr int windowWidth = 487;
    static constexpr int windowHeight = 302;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // initComponents makes the components in their order, then lays out the title and buttons,
    // the drums' names and key lists, and the kit's choice over the picture.
    void initComponents();
    void createComponents();
    void placeDrumRows();
    void placeKitChoice();
    // The field of the key list that shows a binding.
    QComboBox*& keyList(const drums::Binding& key);

    QLabel* title;
    QPushButton* saveAndClose;
    QPushButton* reset;
    QLabel* jLabel1;
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
    QComboBox* bassDrumKey1;
    QComboBox* bassDrumKey2;
    QComboBox* snareDrumKey1;
    QComboBox* snareDrumKey2;
    QComboBox* highTomKey1;
    QComboBox* highTomKey2;
    QComboBox* mediumTomKey1;
    QComboBox* mediumTomKey2;
    QComboBox* floorTomKey1;
    QComboBox* floorTomKey2;
    QComboBox* closedHiHatKey1;
    QComboBox* closedHiHatKey2;
    QComboBox* openHiHatKey1;
    QComboBox* openHiHatKey2;
    QComboBox* rideKey1;
    QComboBox* rideKey2;
    QComboBox* rideCupKey1;
    QComboBox* rideCupKey2;
    QComboBox* crashKey1;
    QComboBox* crashKey2;
    QComboBox* chinaKey1;
    QComboBox* chinaKey2;
    QComboBox* splashKey1;
    QComboBox* splashKey2;
    ChoiceBox* drumFolderbox;
};
