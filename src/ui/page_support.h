#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

class CLayoutTexts;
class CMessageDlg;
class QObject;
class QWidget;

// What the pages and their popup share: how they tell the user something, ask for a
// firmware image, run a popup and open a device's page. Each has its default here;
// tests put their own in its place through the pages' setters.

// Shows a message with the program's caption; a question answers Yes (true) or No.
using Messenger = std::function<bool(const QString& text, bool question)>;
// A modal message box over `parent`, captioned [Main] Caption.
Messenger ModalMessenger(QWidget& parent, CLayoutTexts& texts);

// A message with an OK button that does not hold the program: the caller goes on at
// once, and the box goes when closed. `name` is its object name (tests find it).
void ShowOkBox(QWidget& parent, CLayoutTexts& texts, const QString& name, const QString& text);
// The same as a question answered with OK (true) or Cancel; `answered` gets the answer
// once the user gives it.
void AskWithoutWaiting(QWidget& parent, CLayoutTexts& texts, const QString& name,
                       const QString& text, std::function<void(bool ok)> answered);

// Asks for a firmware image, starting at `start`; empty when the user cancelled.
using FileChooser = std::function<QString(const QString& start)>;
// The file dialog over `parent` that offers "Firmware image" files.
FileChooser FirmwareFileChooser(QWidget& parent);

// Asks for a folder (a USB stick to carry the store on); empty when the user cancelled.
using FolderChooser = std::function<QString()>;
FolderChooser ModalFolderChooser(QWidget& parent);

// Asks where to save the device list, starting at `start`; empty when cancelled. A
// name ending in ".html" asks for the page, any other for CSV.
FileChooser InventoryFileChooser(QWidget& parent);

// True when the file carries an image mark (or is an image as the store keeps it);
// otherwise says so through `say` ([ErrorCode] Code_406) and is false.
bool AcceptFirmwareImage(const QString& path, CLayoutTexts& texts, const Messenger& say);

// Runs a popup to its end and gives its result.
using PopupRunner = std::function<int64_t(CMessageDlg& popup)>;
PopupRunner ModalPopupRunner();

// Saves the schedule without holding up the user-interface thread: `done` follows on
// `context`'s thread with an empty text when the schedule was saved, else why not.
using ScheduleSaver =
    std::function<void(QObject& context, std::function<void(const QString& failure)> done)>;
// [SchedulePage] SaveFailed, with the reason on the next line.
QString SaveFailedText(CLayoutTexts& texts, const QString& why);

// Opens a device's web page in the user's own browser, through the desktop; never
// through a shell.
void OpenDevicePage(const std::string& url);
