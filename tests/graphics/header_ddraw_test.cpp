// ddraw.h compiles on its own and carries the SDK's values.
#include <ddraw.h>

#include <gtest/gtest.h>

namespace {

TEST(DDrawHeader, ResultCodesAndIdentifiersHaveTheSdkValues) {
  EXPECT_EQ(static_cast<uint32_t>(DDERR_SURFACELOST), 0x887601C2u);
  EXPECT_EQ(static_cast<uint32_t>(DDERR_SURFACEBUSY), 0x887601AEu);
  EXPECT_EQ(static_cast<uint32_t>(DDERR_NOTFOUND), 0x887600FFu);
  EXPECT_EQ(static_cast<uint32_t>(DDERR_INVALIDPARAMS), 0x80070057u);
  EXPECT_EQ(DDSCL_FULLSCREEN | DDSCL_NOWINDOWCHANGES | DDSCL_EXCLUSIVE, 0x15);
  EXPECT_EQ(DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT, 0x1007);
  EXPECT_EQ(DDBLT_COLORFILL | DDBLT_WAIT, 0x1000400);
  EXPECT_EQ(IID_IDirectDraw7.Data1, 0x15e65ec0u);
  EXPECT_EQ(IID_IDirectDraw7.Data4[7], 0x5b);
  EXPECT_EQ(offsetof(DDSURFACEDESC2, dwBackBufferCount), 20u);
  EXPECT_EQ(offsetof(DDPIXELFORMAT, dwRGBBitCount), 12u);
}

}  // namespace
