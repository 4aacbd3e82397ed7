#include "ImageImpl.h"

#include <dcmtk/dcmdata/dcdeftag.h>

namespace imaging::detail {

void completeSecondaryCapture(DcmDataset& dataset) {
    // Type 2 attributes of the Patient, General Study, General Series,
    // General Equipment and General Image modules, and Laterality, which
    // dciodvfy expects for a Secondary Capture image.
    const DcmTagKey typeTwo[] = {
        DCM_PatientName,
        DCM_PatientID,
        DCM_PatientBirthDate,
        DCM_PatientSex,
        DCM_StudyDate,
        DCM_StudyTime,
        DCM_ReferringPhysicianName,
        DCM_StudyID,
        DCM_AccessionNumber,
        DCM_SeriesNumber,
        DCM_Laterality,
        DCM_Manufacturer,
        DCM_InstanceNumber,
        DCM_PatientOrientation,
    };
    for (const DcmTagKey& key : typeTwo) {
        if (!dataset.tagExists(key)) {
            dataset.insertEmptyElement(key);
        }
    }
    if (!dataset.tagExists(DCM_Modality)) {
        dataset.putAndInsertString(DCM_Modality, "OT");
    }
    if (!dataset.tagExists(DCM_ConversionType)) {
        dataset.putAndInsertString(DCM_ConversionType, "WSD");
    }
}

} // namespace imaging::detail
