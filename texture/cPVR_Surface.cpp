// The surfaces and BMP files: building, addressing and drawing the image and mask
// surfaces, and reading and writing them as 24-bit BMP files.
#include "texture/cPVR.h"

void cPVR::ReleaseSurface(Surface& surface) {
  // The device context goes before the section selected into it.
  if (surface.DC != nullptr) platform::DeleteDC(surface.DC);
  surface.DC = nullptr;
  if (surface.Bitmap != nullptr) platform::DeleteObject(surface.Bitmap);
  surface.Bitmap = nullptr;
}
