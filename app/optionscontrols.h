#pragma once
// One set of options-screen controls. The window holds two: the photo set and the set of the
// video and raw-file modes, whose controls carry the same names with "_Sig" appended.
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QWidget;

namespace lumafind {

class SectorSlider;

struct OptionsControls {
    QWidget *page = nullptr;  // the screen that holds the set
    QGroupBox *disk_sector_info_Box = nullptr;
    QLabel *disk = nullptr, *vol_name = nullptr, *file_system = nullptr, *size = nullptr,
           *start_sector_entire = nullptr, *end_sector_entire = nullptr;
    QLabel *disk_val = nullptr, *vol_name_val = nullptr, *file_system_val = nullptr, *size_val = nullptr,
           *start_sector_entire_val = nullptr, *end_sector_entire_val = nullptr;
    QGroupBox *searching_criteria_Box = nullptr;
    QRadioButton *entire_disk_rd = nullptr, *sector_range_rd = nullptr;
    QLabel *Sector_Range_Info = nullptr;
    QGroupBox *Start_Sec_Box = nullptr, *End_Sec_Box = nullptr;
    QLabel *Start_Sec_Min = nullptr, *Start_Sec_Min_val = nullptr, *Start_Sec_Max = nullptr,
           *Start_Sec_Max_val = nullptr, *Start_Sec_curr = nullptr;
    QLabel *End_Sec_Min = nullptr, *End_Sec_Min_val = nullptr, *End_Sec_Max = nullptr, *End_Sec_Max_val = nullptr,
           *End_Sec_curr = nullptr;
    QLineEdit *Start_slider_val = nullptr, *End_slider_val = nullptr;
    SectorSlider *Start_Slider = nullptr, *End_Slider = nullptr;
    QGroupBox *browse_Box = nullptr;
    QLabel *path_label = nullptr;
    QLineEdit *path = nullptr;
    QPushButton *browse_path = nullptr;
    // Saved files take the names and times the card's directories remember, where they do.
    QCheckBox *original_names_Chk = nullptr;
    // The result line on the scan screen of the set's modes: what the last scan found and
    // saved, with "Save found files…" and "Open Output Folder", and the progress of saving.
    QWidget *resultRow = nullptr;
    QLabel *result_label = nullptr;
    QPushButton *save_found = nullptr;
    QPushButton *open_folder = nullptr;
    QProgressBar *save_progress = nullptr;
    QPushButton *cancel_save = nullptr;
    // Photo set only.
    QCheckBox *Thro_Mode_Chk = nullptr;
    QLabel *Thro_Mode_Chk_Label = nullptr;
    QLabel *Thro_Mode_Info = nullptr;
};

} // namespace lumafind
