// The file chooser TForm2 as data: the name box, the file list under the selected type's mask,
// the folder list, the drives, the file types, when OK is offered and what it answers, and the
// folder remembered from one program start to the next. A window (Qt, Win32) binds its
// controls to it: it forwards the user's acts and redraws the parts that TakeChanges names.
// It is created once and shown many times; folder, type and name box keep their state.
#pragma once

#include <string>
#include <vector>

struct ChooserFileType {
  std::string description;         // "Intel HEX (.hex)"
  std::vector<std::string> masks;  // {"*.hex"}
};

// One line of the folder list: the current folder's parents, the folder, its subfolders.
struct ChooserFolder {
  std::string caption;  // the folder's own name, or the whole path for a root
  std::string path;
  int level = 0;  // depth, for indenting
};

class FileChooserModel {
 public:
  // What changed since the last TakeChanges, as bits.
  enum Part : unsigned {
    kFiles = 1u << 0,    // Files(), SelectedFile()
    kFolders = 1u << 1,  // Folders(), CurrentFolderRow(), CurrentFolder()
    kDrives = 1u << 2,   // Drives(), CurrentDrive()
    kTypes = 1u << 3,    // FileTypes(), FileTypeIndex()
    kName = 1u << 4,     // NameText()
    kOk = 1u << 5,       // OkOffered()
    kAll = 0x3fu,
  };
  enum class Answer { Ok, Cancel };
  struct Outcome {
    Answer answer = Answer::Cancel;
    std::string problem;  // for the user; set when the answer stands but something failed
  };

  // Opens in the remembered folder, or the default one. A remembered-folder file that cannot
  // be read is no reason not to open: StartProblem() says why to the user.
  FileChooserModel();

  const std::string& StartProblem() const { return m_startProblem; }
  // The folder taken from the remembered-folder file at creation.
  const std::string& DataFilesDir() const { return m_dataFilesDir; }
  // The folder shown; it is the process's current folder, so that a bare name means its file.
  const std::string& CurrentFolder() const { return m_currentFolder; }

  // The types as "Description|*.ext|Description|*.ext|...". A new text selects its first
  // type; the same text again changes nothing, so the type chosen last stays selected.
  void SetFilter(const std::string& filterText);
  void SelectFileType(int index);
  void ChangeFolder(const std::string& folder);
  void OpenFolderRow(int row);
  void SelectDrive(int index);
  // The user picked a file of the list (-1: none).
  void SelectFile(int index);
  // The name box's text as the user left it.
  void SetNameText(const std::string& text);
  // The dialog is about to be shown: the lists show the folder as it is now (a conversion
  // writes new files) and the name box keeps what it held.
  void Showing();
  // OK, a double-click on a file, or Enter in the name box: answers OK only for an existing
  // file, and then remembers its folder.
  Outcome PressOk();
  // The name the dialog returned: the name box's text when OK closed it.
  const std::string& ChosenPath() const { return m_chosenPath; }

  const std::vector<ChooserFileType>& FileTypes() const { return m_types; }
  int FileTypeIndex() const { return m_typeIndex; }
  const std::vector<std::string>& Files() const { return m_files; }
  int SelectedFile() const { return m_selectedFile; }
  const std::vector<ChooserFolder>& Folders() const { return m_folders; }
  int CurrentFolderRow() const { return m_currentFolderRow; }
  const std::vector<std::string>& Drives() const { return m_drives; }
  int CurrentDrive() const { return m_currentDrive; }
  const std::string& NameText() const { return m_name; }
  bool OkOffered() const { return m_okOffered; }

  unsigned TakeChanges();

 private:
  std::string MaskText() const;
  void FillFiles();
  void FillFolders();
  void FillDrives();
  void SetName(const std::string& text);

  std::string m_startProblem;
  std::string m_dataFilesDir;
  std::string m_currentFolder;
  std::string m_chosenPath;
  std::string m_filterText;
  std::vector<ChooserFileType> m_types;
  int m_typeIndex = 0;
  std::vector<std::string> m_files;
  int m_selectedFile = -1;
  std::vector<ChooserFolder> m_folders;
  int m_currentFolderRow = -1;
  std::vector<std::string> m_drives;
  int m_currentDrive = -1;
  std::string m_name;
  bool m_okOffered = false;  // hidden at creation, and by an empty name box
  unsigned m_changes = kAll;
};
