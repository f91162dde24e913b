// Placeholder until the image library lands: every operation refuses.
#include "HdxImgLib.h"

int IL_CreateBitmap(_tagBITMAPHANDLE*, unsigned int, int, int, int, int, int, unsigned char*, int, unsigned char*, int64_t) { return IL_ERR_ARGUMENT; }
int IL_FreeBitmap(_tagBITMAPHANDLE*) { return IL_SUCCESS; }
int IL_SizeBitmap(_tagBITMAPHANDLE*, int, int, int) { return IL_ERR_ARGUMENT; }
int IL_ColorSeparateBitmap(_tagBITMAPHANDLE*, _tagBITMAPHANDLE*[3], unsigned int, unsigned int) { return IL_ERR_ARGUMENT; }
int IL_ColorMergeBitmap(_tagBITMAPHANDLE*, _tagBITMAPHANDLE*[3], unsigned int, unsigned int) { return IL_ERR_ARGUMENT; }
int IL_GammaCorrectBitmap(_tagBITMAPHANDLE*, unsigned int) { return IL_ERR_ARGUMENT; }
int IL_ChangeBitmapIntensity(_tagBITMAPHANDLE*, int) { return IL_ERR_ARGUMENT; }
int IL_ChangeBitmapContrast(_tagBITMAPHANDLE*, int) { return IL_ERR_ARGUMENT; }
int IL_ChangeBitmapSaturation(_tagBITMAPHANDLE*, int) { return IL_ERR_ARGUMENT; }
int IL_SharpenBitmap(_tagBITMAPHANDLE*, int) { return IL_ERR_ARGUMENT; }
int IL_CopyBitmapData(_tagBITMAPHANDLE*, const _tagBITMAPHANDLE*) { return IL_ERR_ARGUMENT; }
int ConvertLUT8(_tagBITMAPHANDLE*, const unsigned char*) { return IL_ERR_ARGUMENT; }
void RGBtoHSL(int, int, int, double*, double*, double*) {}
void HSLtoRGB(double, double, double, unsigned char*, unsigned char*, unsigned char*) {}
