#pragma once
// The fax converter: turns a document (text, BMP, TIFF, PCX, DCX, or lines supplied by the
// caller) into an APF fax file, one T.4 coded record per raster line.
#include <cstdint>
#include <functional>
#include <string>

#include "base/result_codes.h"
#include "faximage/fax_font.h"

namespace kv {

enum TFaxInputDocumentType { idNone, idText, idTiff, idPcx, idDcx, idBmp, idBitmap, idUser };

enum TFaxCvtOption : unsigned {
  coDoubleWidth = 1,
  coHalfHeight = 2,
  coCenterImage = 4,
  coYield = 8,
  coYieldOften = 16,
};
using TFaxCvtOptions = unsigned;  // a set of TFaxCvtOption

enum TFaxResolution { frNormal, frHigh };
enum TFaxWidth { fwNormal, fwWide };

class TKvCustomFaxConverter;
class FaxConversion;

using TFaxStatusEvent = std::function<void(
    TKvCustomFaxConverter &sender, bool starting, bool ending, int pagesConverted,
    int linesConverted, std::int64_t bytesConverted, std::int64_t bytesToConvert, bool &abort)>;
using TFaxOutputLineEvent =
    std::function<void(TKvCustomFaxConverter &sender, const std::uint8_t *data, int len,
                       bool endOfPage, bool morePages)>;
using TFaxOpenFileEvent =
    std::function<void(TKvCustomFaxConverter &sender, const std::string &fname)>;
// `data` is the cleared raster line; `len` comes in as its size in bytes and goes out as the
// number of bytes filled (the rest stays white).
using TFaxReadLineEvent = std::function<void(TKvCustomFaxConverter &sender, std::uint8_t *data,
                                             int &len, bool &endOfPage, bool &morePages)>;
using TFaxCloseFileEvent = std::function<void(TKvCustomFaxConverter &sender)>;
// Services the caller's message queue while a conversion runs; answers false when the program
// was asked to quit, which ends the conversion with ecGotQuitMsg.
using TFaxMessagePump = std::function<bool()>;

class TKvCustomFaxConverter {
 public:
  TKvCustomFaxConverter() = default;
  TKvCustomFaxConverter(const TKvCustomFaxConverter &) = delete;
  TKvCustomFaxConverter &operator=(const TKvCustomFaxConverter &) = delete;
  virtual ~TKvCustomFaxConverter() = default;

  // Converts DocumentFile into OutFileName. Failures are raised as exceptions of the
  // EKvException family (or EInOutError / EOutOfMemory); no partial output is left behind.
  void ConvertToFile();
  // The same, answering the result code instead of raising it.
  Result convert();

  TFaxInputDocumentType InputDocumentType() const { return inputType_; }
  void setInputDocumentType(TFaxInputDocumentType t) { inputType_ = t; }
  TFaxCvtOptions Options() const { return options_; }
  // Asking to yield often implies yielding.
  void setOptions(TFaxCvtOptions o) { options_ = (o & coYieldOften) ? (o | coYield) : o; }
  TFaxResolution Resolution() const { return resolution_; }
  void setResolution(TFaxResolution r) { resolution_ = r; }
  TFaxWidth Width() const { return width_; }
  void setWidth(TFaxWidth w) { width_ = w; }
  int TopMargin() const { return topMargin_; }
  void setTopMargin(int lines) { topMargin_ = lines; }
  int LeftMargin() const { return leftMargin_; }
  void setLeftMargin(int pixels) { leftMargin_ = pixels; }
  int LinesPerPage() const { return linesPerPage_; }
  void setLinesPerPage(int n) { linesPerPage_ = n; }
  int TabStop() const { return tabStop_; }
  void setTabStop(int n) { tabStop_ = n; }
  // Kept for compatibility of settings; the font always comes from the built-in font.
  const std::string &FontFile() const { return fontFile_; }
  void setFontFile(const std::string &f) { fontFile_ = f; }
  TFaxFont FontType() const { return fontType_; }
  void setFontType(TFaxFont f) { fontType_ = f; }
  const std::string &DocumentFile() const { return documentFile_; }
  // Also names the output after the document (same name, extension ".APF") unless the
  // component is being loaded.
  void setDocumentFile(const std::string &name);
  const std::string &OutFileName() const { return outFileName_; }
  void setOutFileName(const std::string &name) { outFileName_ = name; }
  const std::string &DefUserExtension() const { return defUserExtension_; }
  void setDefUserExtension(const std::string &ext) { defUserExtension_ = ext; }
  const std::string &StationID() const { return stationId_; }
  // Cut to 20 characters, the room the file has for it.
  void setStationID(const std::string &id) { stationId_ = id.substr(0, 20); }
  void setLoading(bool on) { loading_ = on; }

  TFaxStatusEvent OnStatus;
  TFaxOutputLineEvent OnOutputLine;
  TFaxOpenFileEvent OnOpenUserFile;
  TFaxReadLineEvent OnReadUserLine;
  TFaxCloseFileEvent OnCloseUserFile;
  TFaxMessagePump MessagePump;

  // The names a conversion would use (after extension rules), for callers that report them.
  std::string resolvedInputName() const;
  std::string resolvedOutputName() const;

  // After a failed conversion: the file the failure concerns (the input or the output, by the
  // name the conversion used for it) and, where there is more to say than the code's text, why.
  const std::string &ErrorFile() const { return errorFile_; }
  const std::string &ErrorReason() const { return errorReason_; }

 private:
  TFaxInputDocumentType inputType_ = idNone;
  TFaxCvtOptions options_ = coDoubleWidth | coCenterImage | coYield;
  TFaxResolution resolution_ = frNormal;
  TFaxWidth width_ = fwNormal;
  int topMargin_ = 0;
  int leftMargin_ = 50;
  int linesPerPage_ = 60;
  int tabStop_ = 4;
  std::string fontFile_ = "KVFAX.FNT";
  TFaxFont fontType_ = ffStandard;
  std::string documentFile_;
  std::string outFileName_;
  std::string defUserExtension_;
  std::string stationId_;
  bool loading_ = false;
  std::string errorFile_, errorReason_;

  friend class FaxConversion;
};

class TKvFaxConverter : public TKvCustomFaxConverter {};

// Prefix of the temporary file through which colour and grey BMP pictures are dithered.
inline constexpr const char *kDitherTempPrefix = "~DIT";
// The most pages one APF file can count.
inline constexpr int kApfMaxPages = 0xFFFF;

}  // namespace kv
