#include "U_AddFile.h"

#include "FFDecode.h"

namespace {

struct TFilter {
  const char* Label;
  const char* Masks;
};

const TFilter Filters[] = {
    {"All Support Video Format",
     "*.3GP;*.2G2;*.ASF;*.WMB;*.AVI;*.AVM;*.AVS;*.DAT;*.FLV;*.MKV;*.MOV;*.MP4;*.MPEG;*.MPG;*.NSV;"
     "*.OGM;*.RM;*.RMVB;*.TP;*.TS;*.VOB;*.WMV;*.F4v;*.DV"},
    {"AVI Video File(*.avi)", "*.AVI"},
    {"MPEG4 File(*.mp4)", "*.MP4"},
    {"MPEG File(*.mpg; *.mpeg)", "*.MPG;*.MPEG"},
    {"3GP File(*.3gp; *.2g2)", "*.3GP;*.2G2"},
    {"MOD File(*.mod)", "*.MOD"},
    {"TOD File(*.tod)", "*.TOD"},
    {"Real Media File(*.rm; *.rmvb)", "*.RM;*.RMVB"},
    {"Video CD File(*.dat)", "*.DAT"},
    {"Quick Time File(*.mov; *.qt)", "*.MOV; *.QT"},
    {"Flash Video File(*.flv; *.f4v)", "*.FLV;*.F4V"},
    {"MKV File(*.mkv)", "*.MKV"},
    {"Digital Video Files(*.dv)", "*.DV"},
    {"DVD File(*.vob)", "*.VOB"},
    {"High-definition File(*.ts)", "*.TS"},
    {"Nullsoft Stream File(*.nsv)", "*.NSV"},
    {"Advanced System File(*.asf)", "*.ASF"},
    {"All Files(*.*)", "*"},
};

}  // namespace

QString AnyCaseMask(const QString& Mask) {
  QString result;
  for (const QChar c : Mask) {
    if (c.isLetter() && c.toLower() != c.toUpper())
      result += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
    else
      result += c;
  }
  return result;
}

QStringList OpenFileFilters() {
  QStringList filters;
  for (const TFilter& filter : Filters) {
    QStringList masks;
    for (const QString& mask : QString::fromLatin1(filter.Masks).split(QLatin1Char(';')))
      masks << AnyCaseMask(mask.trimmed());
    filters << QString::fromLatin1(filter.Label) + QStringLiteral(" (") + masks.join(' ') + ')';
  }
  return filters;
}

QString AddFilesSummary(int Total, const QStringList& Failed) {
  return QStringLiteral(
             "%1 files have been loaded successfully,%2 files failed.\r\nunloaded files:\r\n")
             .arg(Total - Failed.size())
             .arg(Failed.size()) +
         Failed.join(QStringLiteral("\r\n"));
}

TFileProber::TFileProber(QStringList Files, TProbedEvent OnProbed)
    : FThread(&TFileProber::Run, this, std::move(Files), std::move(OnProbed)) {}

TFileProber::~TFileProber() { FThread.join(); }

void TFileProber::Run(QStringList Files, TProbedEvent OnProbed) {
  TFFDecoder decoder;
  for (int i = 0; i < Files.size(); ++i)
    OnProbed(i, ProbeMediaFile(decoder, Files[i]));
}
