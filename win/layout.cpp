#include "win/layout.h"

#include <array>
#include <stdexcept>

namespace {

using K = ControlKind;
constexpr std::optional<Ctl> kNone;

// clang-format off
constexpr Placement kPlaces[] = {
    {Ctl::Image1, K::Image, 26, 4, 361, 87, kNone},
    {Ctl::Label5, K::Label, 395, 4, 345, 87, kNone},
    {Ctl::BtnRepeatUpload, K::Button, 8, 342, 112, 25, kNone},
    {Ctl::BtnBackToStart, K::Button, 124, 342, 124, 25, kNone},
    {Ctl::BtnCaptureFile, K::Button, 400, 342, 140, 25, kNone},
    {Ctl::Label11, K::Label, 546, 346, 70, 17, kNone},
    {Ctl::BtnHelp, K::Button, 622, 342, 64, 25, kNone},
    {Ctl::BtnClose, K::Button, 690, 342, 64, 25, kNone},
    {Ctl::GroupBox2, K::GroupBox, 8, 370, 746, 36, kNone},
    {Ctl::Title1, K::Label, 14, 377, 734, 13, kNone},
    {Ctl::Title2, K::Label, 14, 391, 734, 13, kNone},
    {Ctl::OpeningBox, K::GroupBox, 8, 93, 746, 245, kNone},
    {Ctl::Label6, K::Label, 18, 106, 362, 40, Ctl::OpeningBox},
    {Ctl::Label13, K::Label, 18, 148, 362, 34, Ctl::OpeningBox},
    {Ctl::BtnCable, K::Button, 18, 184, 100, 25, Ctl::OpeningBox},
    {Ctl::MemoCable, K::Memo, 18, 211, 362, 92, Ctl::OpeningBox},
    {Ctl::Label3, K::Label, 18, 308, 108, 17, Ctl::OpeningBox},
    {Ctl::CommPortBox, K::ComboBox, 128, 305, 52, 220, Ctl::OpeningBox},
    {Ctl::Label7, K::Label, 392, 106, 352, 20, Ctl::OpeningBox},
    {Ctl::GroupBox1, K::GroupBox, 392, 126, 354, 94, Ctl::OpeningBox},
    {Ctl::Label9, K::Label, 402, 146, 70, 17, Ctl::GroupBox1},
    {Ctl::BaudRateBox, K::ComboBox, 474, 142, 90, 120, Ctl::GroupBox1},
    {Ctl::Label22, K::Label, 402, 172, 214, 40, Ctl::GroupBox1},
    {Ctl::Btn2Upload, K::Button, 624, 158, 114, 25, Ctl::GroupBox1},
    {Ctl::GroupBox3, K::GroupBox, 392, 226, 354, 90, Ctl::OpeningBox},
    {Ctl::Label21, K::Label, 402, 242, 166, 66, Ctl::GroupBox3},
    {Ctl::BtnBoot, K::Button, 572, 259, 166, 25, Ctl::GroupBox3},
    {Ctl::MainBox, K::GroupBox, 8, 93, 746, 245, kNone},
    {Ctl::Label12, K::Label, 18, 110, 460, 34, Ctl::MainBox},
    {Ctl::Label8, K::Label, 18, 146, 600, 34, Ctl::MainBox},
    {Ctl::Label14, K::Label, 482, 110, 130, 17, Ctl::MainBox},
    {Ctl::BtnChooseFile, K::Button, 630, 122, 112, 25, Ctl::MainBox},
    {Ctl::RunBox, K::GroupBox, 16, 180, 730, 152, Ctl::MainBox},
    {Ctl::Label15, K::Label, 26, 196, 710, 34, Ctl::RunBox},
    {Ctl::Label4, K::Label, 26, 232, 710, 34, Ctl::RunBox},
    {Ctl::Label2, K::Label, 26, 268, 710, 20, Ctl::RunBox},
    {Ctl::Gauge, K::Gauge, 412, 292, 233, 33, Ctl::RunBox},
    {Ctl::BtnStartRun, K::Button, 272, 296, 112, 25, Ctl::RunBox},
    {Ctl::Label10, K::Label, 26, 298, 376, 22, Ctl::RunBox},
    {Ctl::FactoryBox, K::GroupBox, 8, 93, 746, 245, kNone},
    {Ctl::Label19, K::Label, 18, 110, 362, 17, Ctl::FactoryBox},
    {Ctl::Label18, K::Label, 18, 130, 362, 17, Ctl::FactoryBox},
    {Ctl::FUpHist, K::History, 18, 150, 362, 180, Ctl::FactoryBox},
    {Ctl::Label1, K::Label, 392, 110, 352, 60, Ctl::FactoryBox},
    {Ctl::Label16, K::Label, 392, 174, 352, 60, Ctl::FactoryBox},
    {Ctl::BtnGoOn, K::Button, 392, 240, 100, 25, Ctl::FactoryBox},
};
// clang-format on

static_assert(std::size(kPlaces) == kControlCount, "every control has one place");

constexpr bool InEnumerationOrder() {
  for (std::size_t i = 0; i < std::size(kPlaces); ++i) {
    if (static_cast<std::size_t>(kPlaces[i].id) != i) return false;
  }
  return true;
}
static_assert(InEnumerationOrder(), "places are listed in the order of the enumeration");

}  // namespace

const Placement& PlacementOf(Ctl id) {
  return kPlaces[static_cast<std::size_t>(id)];
}

DesignFont DesignFontOf(Ctl id) {
  switch (id) {
    case Ctl::Label5:
      return {32, true, true};
    case Ctl::Label21:
      return {12, false, false};
    case Ctl::Title1:
    case Ctl::Title2:
      return {11, false, false};
    default:
      return {};
  }
}
