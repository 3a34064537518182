// Export parameters read through the host, and the encoder's view of them.
#include "exporter/ExportParams.h"

#include "codec/FrameEncoder.h"
#include "exporter/ExportRender.h"
#include "exporter/ExporterLocalRec.h"

namespace keo::exporter {
namespace {

int readValue(exDoExportRec* record, const char* identifier, exParamValue* value) {
    if (!record || !record->privateData || !identifier)
        return kKEOExportBadArgument;
    const ExporterLocalRec* rec = static_cast<const ExporterLocalRec*>(record->privateData);
    if (!rec->exportParamSuite || !rec->exportParamSuite->GetParamValue)
        return kKEOExportBadArgument;
    exParamValues values{};
    const prSuiteError err =
        rec->exportParamSuite->GetParamValue(record->exporterPluginID, 0, identifier, &values);
    if (err != suiteError_NoError)
        return err;
    *value = values.value;
    return 0;
}

// The encoder knows only this narrow signature; it must answer 0 only when
// the value is real, or the frame would be encoded with made-up settings.
int encoderParamGetter(exDoExportRec* record, const char* identifier, int* value) {
    int32_t v;
    const int err = readParamInt(record, identifier, &v);
    if (err != 0)
        return err;
    *value = v;
    return 0;
}

} // namespace

int readParamInt(exDoExportRec* record, const char* identifier, int32_t* value) {
    exParamValue v;
    const int err = readValue(record, identifier, &v);
    if (err == 0)
        *value = v.intValue;
    return err;
}

int readParamFloat(exDoExportRec* record, const char* identifier, double* value) {
    exParamValue v;
    const int err = readValue(record, identifier, &v);
    if (err == 0)
        *value = v.floatValue;
    return err;
}

int readParamTime(exDoExportRec* record, const char* identifier, PrTime* value) {
    exParamValue v;
    const int err = readValue(record, identifier, &v);
    if (err == 0)
        *value = v.timeValue;
    return err;
}

void useHostParamsForEncoder() {
    KEOSetExportParamGetter(&encoderParamGetter);
}

} // namespace keo::exporter
