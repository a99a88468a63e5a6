#include "common/gdal.h"

#include <cpl_conv.h>
#include <gdal_utils.h>

#include <mutex>

namespace common::gdal {

void setUp(const std::vector<std::pair<std::string, std::string>>& defaults)
{
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    for (const auto& [key, value] : defaults) {
        if (CPLGetConfigOption(key.c_str(), nullptr) == nullptr) {
            CPLSetConfigOption(key.c_str(), value.c_str());
        }
    }
}

ErrorCapture::ErrorCapture()
{
    CPLPushErrorHandlerEx(handler, this);
}

ErrorCapture::~ErrorCapture()
{
    CPLPopErrorHandler();
}

void CPL_STDCALL ErrorCapture::handler(CPLErr type, CPLErrorNum number, const char* message)
{
    if (type == CE_Debug) {
        CPLDefaultErrorHandler(type, number, message); // asked for with CPL_DEBUG
        return;
    }
    if (type < CE_Failure) {
        return; // warnings are not failures
    }
    auto* self = static_cast<ErrorCapture*>(CPLGetErrorHandlerUserData());
    self->last_ = {number, message != nullptr ? message : ""};
}

Error ErrorCapture::error(ErrorKind kind, const std::string& context, int status) const
{
    const std::string reason = last_.message.empty() ? "unknown error" : last_.message;
    return {kind, context + ": " + reason, status};
}

Result<Dataset> openRaster(const std::string& name, const std::string& label)
{
    const ErrorCapture errors;
    auto* dataset = GDALDataset::FromHandle(
        GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    const std::string what = (label.empty() ? name : label) + " cannot be opened";
    if (dataset == nullptr && !errors.failed()) { // GDAL says nothing of a file it cannot read
        return Error{ErrorKind::Permanent, what + ": it is in no raster format GDAL reads", 0};
    }
    if (dataset == nullptr) {
        const ErrorKind kind =
            errors.last().number == CPLE_OpenFailed ? ErrorKind::NotFound : ErrorKind::Permanent;
        return errors.error(kind, what);
    }
    return Dataset(dataset);
}

Result<Dataset> translate(const std::string& target, GDALDatasetH source, CPLStringList arguments,
                          GDALProgressFunc progress, void* progressData)
{
    const ErrorCapture errors;
    GDALTranslateOptions* options = GDALTranslateOptionsNew(arguments.List(), nullptr);
    if (options == nullptr) {
        return errors.error(ErrorKind::BadInput, "bad translation options");
    }
    if (progress != nullptr) {
        GDALTranslateOptionsSetProgress(options, progress, progressData);
    }
    int usageError = FALSE;
    GDALDatasetH written = GDALTranslate(target.c_str(), source, options, &usageError);
    GDALTranslateOptionsFree(options);
    Dataset dataset(GDALDataset::FromHandle(written));
    if (!dataset || usageError) {
        return errors.error(ErrorKind::Permanent, "the translation failed");
    }
    return dataset;
}

Status warp(GDALDatasetH source, GDALDatasetH target, CPLStringList arguments,
            GDALProgressFunc progress, void* progressData)
{
    const ErrorCapture errors;
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(arguments.List(), nullptr);
    if (options == nullptr) {
        return errors.error(ErrorKind::BadInput, "bad warp options");
    }
    GDALWarpAppOptionsSetProgress(options, progress, progressData);
    int usageError = FALSE;
    GDALDatasetH sources[] = {source};
    const GDALDatasetH result = GDALWarp(nullptr, target, 1, sources, options, &usageError);
    GDALWarpAppOptionsFree(options);
    if (result == nullptr || usageError) {
        return errors.error(ErrorKind::Permanent, "the warp failed");
    }
    return {};
}

} // namespace common::gdal
