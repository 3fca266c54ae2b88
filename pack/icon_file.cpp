#include "pack/icon_file.h"

#include <algorithm>

std::vector<TIconImage> ReadIconFile(const TBytes& File) {
  if (File.size() < 6 || Get16(File, 0) != 0 || Get16(File, 2) != 1 || Get16(File, 4) == 0)
    throw EPackError("it is not an icon file (.ico)");
  std::vector<TIconImage> Images;
  const uint16_t Count = Get16(File, 4);
  for (uint16_t I = 0; I < Count; ++I) {
    const size_t At = 6 + 16 * static_cast<size_t>(I);
    TIconImage Image;
    Image.Width = File.at(At);
    Image.Height = File.at(At + 1);
    Image.ColourCount = File.at(At + 2);
    Image.Planes = Get16(File, At + 4);
    Image.BitCount = Get16(File, At + 6);
    const uint32_t Size = Get32(File, At + 8);
    const uint32_t Offset = Get32(File, At + 12);
    if (Size == 0 || Offset > File.size() || Size > File.size() - Offset)
      throw EPackError("an image of the icon file lies outside it");
    Image.Data.assign(File.begin() + Offset, File.begin() + Offset + Size);
    Images.push_back(std::move(Image));
  }
  return Images;
}

void ReplaceIcon(std::vector<TResource>& Resources, const std::vector<TIconImage>& Images) {
  TResourceKey GroupName = TResourceKey::Number(1);
  uint16_t Language = 0x0409;
  bool Found = false;
  for (const TResource& Resource : Resources) {
    if (!Found && !Resource.Type.IsText && Resource.Type.Id == RtGroupIcon) {
      GroupName = Resource.Name;
      Language = Resource.Language;
      Found = true;
    }
  }
  Resources.erase(std::remove_if(Resources.begin(), Resources.end(),
                                 [](const TResource& R) {
                                   return !R.Type.IsText && (R.Type.Id == RtIcon || R.Type.Id == RtGroupIcon);
                                 }),
                  Resources.end());
  TResource Group;
  Group.Type = TResourceKey::Number(RtGroupIcon);
  Group.Name = GroupName;
  Group.Language = Language;
  Append16(Group.Data, 0);
  Append16(Group.Data, 1);
  Append16(Group.Data, static_cast<uint16_t>(Images.size()));
  uint16_t Id = 1;
  for (const TIconImage& Image : Images) {
    Group.Data.push_back(Image.Width);
    Group.Data.push_back(Image.Height);
    Group.Data.push_back(Image.ColourCount);
    Group.Data.push_back(0);
    Append16(Group.Data, Image.Planes);
    Append16(Group.Data, Image.BitCount);
    Append32(Group.Data, static_cast<uint32_t>(Image.Data.size()));
    Append16(Group.Data, Id);
    TResource Icon;
    Icon.Type = TResourceKey::Number(RtIcon);
    Icon.Name = TResourceKey::Number(Id);
    Icon.Language = Language;
    Icon.Data = Image.Data;
    Resources.push_back(std::move(Icon));
    ++Id;
  }
  Resources.push_back(std::move(Group));
}
