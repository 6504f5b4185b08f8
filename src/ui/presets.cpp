#include "ui/presets.h"

namespace tarvel {

std::u16string_view PresetCaption(int index) {
  switch (index) {
    case kPresetOther:
      return u"それ以外";
    case kPresetZ919:
      return u"Kenwood Z919";
    case kPresetFCD7:
      return u"Kenwood f-CD7";
  }
  return {};
}

}  // namespace tarvel
