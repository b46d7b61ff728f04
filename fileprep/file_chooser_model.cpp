#include "fileprep/file_chooser_model.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "fileprep/data_files_dir.h"
#include "fileprep/folder_listing.h"

namespace fs = std::filesystem;

namespace {

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(fs::path(path), ec);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find(separator, start), text.size());
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

ChooserFileType AllFiles() {
  return {"All files (*.*)", {"*.*"}};
}

}  // namespace

FileChooserModel::FileChooserModel() {
  m_types.push_back(AllFiles());
  try {
    m_dataFilesDir = ReadDataFilesDir();
  } catch (const std::exception& e) {
    m_dataFilesDir = DefaultDataFilesDir();
    m_startProblem =
        "The remembered folder could not be read from " + DataFilesDirFile() + ": " + e.what();
  }
  ChangeFolder(m_dataFilesDir);
  m_changes = kAll;
}

unsigned FileChooserModel::TakeChanges() {
  const unsigned changes = m_changes;
  m_changes = 0;
  return changes;
}

std::string FileChooserModel::MaskText() const {
  std::string text;
  for (const std::string& mask : m_types[static_cast<size_t>(m_typeIndex)].masks) {
    if (!text.empty()) text += ';';
    text += mask;
  }
  return text;
}

void FileChooserModel::SetFilter(const std::string& filterText) {
  if (filterText == m_filterText) return;
  m_filterText = filterText;
  std::vector<std::string> parts = Split(filterText, '|');
  if (!parts.empty() && parts.back().empty()) parts.pop_back();
  m_types.clear();
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::vector<std::string> masks;
    for (std::string& mask : Split(parts[i + 1], ';')) {
      if (!mask.empty()) masks.push_back(std::move(mask));
    }
    if (masks.empty()) masks.push_back("*.*");
    m_types.push_back({parts[i], std::move(masks)});
  }
  if (m_types.empty()) m_types.push_back(AllFiles());
  m_typeIndex = 0;
  m_changes |= kTypes;
  FillFiles();
}

void FileChooserModel::SelectFileType(int index) {
  if (index < 0 || index >= static_cast<int>(m_types.size())) return;
  m_typeIndex = index;
  m_changes |= kTypes;
  FillFiles();
}

void FileChooserModel::ChangeFolder(const std::string& folder) {
  std::string target = folder.empty() ? std::string() : CleanFolder(folder);
  if (!IsFolder(target)) target = CleanFolder(DefaultDataFilesDir());
  if (!IsFolder(target)) target = CleanFolder("/");  // not even a home folder
  m_currentFolder = target;
  FillFolders();
  FillDrives();
  FillFiles();
}

void FileChooserModel::OpenFolderRow(int row) {
  if (row < 0 || row >= static_cast<int>(m_folders.size())) return;
  ChangeFolder(m_folders[static_cast<size_t>(row)].path);
}

void FileChooserModel::SelectDrive(int index) {
  if (index < 0 || index >= static_cast<int>(m_drives.size())) return;
  ChangeFolder(m_drives[static_cast<size_t>(index)]);
}

void FileChooserModel::SelectFile(int index) {
  if (index < 0 || index >= static_cast<int>(m_files.size())) return;
  m_selectedFile = index;
  m_changes |= kFiles;
  SetName(m_files[static_cast<size_t>(index)]);
}

void FileChooserModel::SetNameText(const std::string& text) {
  SetName(text);
  const auto same = std::find(m_files.begin(), m_files.end(), text);
  const int selected = same == m_files.end() ? -1 : static_cast<int>(same - m_files.begin());
  if (selected != m_selectedFile) {
    m_selectedFile = selected;
    m_changes |= kFiles;
  }
}

void FileChooserModel::SetName(const std::string& text) {
  if (text != m_name) {
    m_name = text;
    m_changes |= kName;
  }
  // A mask written by the file list leaves OK as it was.
  if (text.find('*') != std::string::npos) return;
  const bool offered = !text.empty();
  if (offered != m_okOffered) {
    m_okOffered = offered;
    m_changes |= kOk;
  }
}

void FileChooserModel::Showing() {
  if (!IsFolder(m_currentFolder)) {
    ChangeFolder(m_currentFolder);
    return;
  }
  const std::string kept = m_name;
  FillFolders();
  FillFiles();
  SetNameText(kept);
}

FileChooserModel::Outcome FileChooserModel::PressOk() {
  m_chosenPath = m_name;
  Outcome outcome;
  if (m_chosenPath.empty() || m_chosenPath.find('*') != std::string::npos) return outcome;
  std::error_code ec;
  if (!fs::is_regular_file(fs::path(m_currentFolder) / fs::path(m_chosenPath), ec)) {
    return outcome;
  }
  // The answer is OK even when the folder cannot be remembered; the user hears why.
  outcome.answer = Answer::Ok;
  try {
    SaveDataFilesDir(m_currentFolder);
  } catch (const std::exception& e) {
    outcome.problem =
        "The folder could not be remembered in " + DataFilesDirFile() + ": " + e.what();
  }
  return outcome;
}

void FileChooserModel::FillFiles() {
  // Listing a folder makes it the current one: a bare name in the name box means its file.
  std::error_code ec;
  fs::current_path(fs::path(m_currentFolder), ec);
  m_files = ListFiles(m_currentFolder, m_types[static_cast<size_t>(m_typeIndex)].masks);
  m_selectedFile = -1;
  m_changes |= kFiles;
  // With nothing selected the name box shows the mask.
  SetName(MaskText());
}

void FileChooserModel::FillFolders() {
  m_folders.clear();
  int level = 0;
  for (const std::string& path : FolderChain(m_currentFolder)) {
    const fs::path p(path);
    const bool root = p == p.root_path() || !p.has_filename();
    m_folders.push_back({root ? path : p.filename().string(), path, level++});
  }
  m_currentFolderRow = static_cast<int>(m_folders.size()) - 1;
  for (const std::string& name : ListSubfolders(m_currentFolder)) {
    m_folders.push_back({name, (fs::path(m_currentFolder) / name).string(), level});
  }
  m_changes |= kFolders;
}

void FileChooserModel::FillDrives() {
  m_drives = ListDrives();
  const std::string here = DriveOf(m_currentFolder);
  auto at = std::find(m_drives.begin(), m_drives.end(), here);
  if (at == m_drives.end()) {
    m_drives.push_back(here);
    std::sort(m_drives.begin(), m_drives.end());
    at = std::find(m_drives.begin(), m_drives.end(), here);
  }
  m_currentDrive = static_cast<int>(at - m_drives.begin());
  m_changes |= kDrives;
}
