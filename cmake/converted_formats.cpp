// Run once by the build: prints the file name extensions of the images that this machine's
// image library decodes and browsers do not show, separated by ";". HEIC needs the HEVC
// decoder beside the HEIF reader; TIFF and JPEG XL their readers; cameras' RAW files the RAW
// library, which finds their previews, and the JPEG reader, which decodes them.
#include <libraw/libraw.h>
#include <vips/vips.h>

#include <cstdio>
#include <string>
#ifdef VELMARIND_PROBE_HEIF
#include <libheif/heif.h>
#endif

int main(int, char** argv) {
  if (VIPS_INIT(argv[0]) != 0) return 1;
  auto has = [](const char* name) { return vips_type_find("VipsOperation", name) != 0; };
  bool hevc = true;
#ifdef VELMARIND_PROBE_HEIF
  heif_init(nullptr);
  hevc = heif_have_decoder_for_format(heif_compression_HEVC) != 0;
#endif
  std::string extensions;
  if (has("heifload_source") && hevc) extensions += "heic;heif;hif;";
  if (has("tiffload_source")) extensions += "tif;tiff;";
  if (has("jxlload_source")) extensions += "jxl;";
  // The RAW formats the library reads whose cameras store a JPEG preview; Sigma's only when the
  // library was built with their reader.
  if (has("jpegload_buffer")) {
    extensions +=
        "3fr;arw;cr2;cr3;crw;dcr;dng;erf;fff;iiq;kdc;mef;mos;mrw;nef;nrw;orf;ori;pef;raf;raw;rw2;"
        "rwl;sr2;srf;srw;";
    if (LibRaw::capabilities() & LIBRAW_CAPS_X3FTOOLS) extensions += "x3f;";
  }
  if (!extensions.empty()) extensions.pop_back();
  std::fputs(extensions.c_str(), stdout);
  return 0;
}
