// The table of the small condition classes.
#include "qual/conditions/condition_class.hpp"

namespace ozra::qual {

std::vector<ConditionClass> condition_class_table() {
    using enum Family;
    using enum Shown;
    return {
        // ---- vendor-specific source settings, in the order of VendorSpecificAdditionalConditionTypes
        {"AgilentMassHunterCondition", "argument", vendor_specific, "AGILENT_MASS_HUNTER", true,
         "FragmentorVoltage", "Agilent|MassHunter",
         {{"fragmentor_voltage", "cone_voltage", "Fragmentor Voltage", unless_none, true, true,
           "The fragmentor voltage, or None."}},
         "AgilentMassHunterCondition(argument)\n--\n\n"
         "An Agilent MassHunter scan setting: the fragmentor voltage. Made from a\n"
         "VendorSpecificAdditionalCondition record or from the bare voltage (a float);\n"
         "anything else leaves the voltage None."},
        {"SCIEXAnalystCondition", "vendor_specific_additional_condition", vendor_specific, "SCIEX_ANALYST", false,
         nullptr, "SCIEX|Analyst",
         {{"experiment_index", "original_id", "Experiment Index", unless_none, false, true,
           "The experiment index of the scan definition, or None."},
          {"dp", "cone_voltage", "DP", unless_none, true, true, "The declustering potential, or None."}},
         "SCIEXAnalystCondition(vendor_specific_additional_condition)\n--\n\n"
         "A SCIEX Analyst scan setting: experiment index and declustering potential (DP),\n"
         "read from a VendorSpecificAdditionalCondition record."},
        {"ShimadzuIoModuleCondition", "vendor_specific_additional_condition", vendor_specific,
         "SHIMADZU_IO_MODULE", false, nullptr, "Shimadzu|IoModule",
         {{"event_no", "original_id", "Event Number", unless_none, false, true,
           "The event number of the scan definition, or None."}},
         "ShimadzuIoModuleCondition(vendor_specific_additional_condition)\n--\n\n"
         "A Shimadzu IoModule scan setting: the event number, read from a\n"
         "VendorSpecificAdditionalCondition record."},
        {"ThermoFisherRawFileReaderCondition", "argument", vendor_specific, "THERMO_FISHER_RAW_FILE_READER", true,
         "In-SourceCID", "ThermoFisher|RawFileReader",
         {{"sid", "cone_voltage", "SID", if_not_none, true, true,
           "The in-source collision-induced dissociation energy (SID), or None."},
          {"scan_filter", "scan_info_string", "Scan Filter", if_nonempty_text, false, false,
           "The scan filter text, or None. It takes no part in equality and hash."}},
         "ThermoFisherRawFileReaderCondition(argument)\n--\n\n"
         "A Thermo Fisher RawFileReader scan setting: in-source CID energy (SID) and scan\n"
         "filter. Made from a VendorSpecificAdditionalCondition record or from the bare SID\n"
         "(a float); anything else leaves both None. Conditions differing only in their\n"
         "scan filter are equal."},
        {"WatersMassLynxCondition", "argument", vendor_specific, "WATERS_MASS_LYNX", true, "ConeVoltage",
         "Waters|MassLynx",
         {{"function_number", "original_id", "Function Number", unless_none, false, true,
           "The function number of the scan definition, or None."},
          {"cone_voltage", "cone_voltage", "Cone Voltage", unless_none, true, true, "The cone voltage, or None."}},
         "WatersMassLynxCondition(argument)\n--\n\n"
         "A Waters MassLynx scan setting: function number and cone voltage. Made from a\n"
         "VendorSpecificAdditionalCondition record or from the bare cone voltage (a float);\n"
         "anything else leaves both None."},

        // ---- triple-quadrupole scan modes, in the order of TripleQScanTypes
        {"PrecursorIonScanCondition", "triple_q_scan_condition", triple_q_scan, "PRECURSOR", false, nullptr,
         "Precursor Ion Scan",
         {{"product_ion_mz", "target_mz", "Product Ion m/z", always, false, true,
           "The product ion m/z on which Q3 stays."},
          {"q1_range", "q1_range", "Q1 Range", always, false, true, "The m/z range Q1 scans."}},
         "PrecursorIonScanCondition(triple_q_scan_condition)\n--\n\n"
         "A precursor ion scan: Q3 stays on one product ion m/z while Q1 scans a range.\n"
         "Read from a TripleQScanCondition record."},
        {"ProductIonScanCondition", "triple_q_scan_condition", triple_q_scan, "PRODUCT", false, nullptr,
         "Product Ion Scan",
         {{"precursor_ion_mz", "target_mz", "Precursor Ion m/z", always, false, true,
           "The precursor ion m/z on which Q1 stays."},
          {"q3_range", "q3_range", "Q3 Range", always, false, true, "The m/z range Q3 scans."}},
         "ProductIonScanCondition(triple_q_scan_condition)\n--\n\n"
         "A product ion scan: Q1 stays on one precursor ion m/z while Q3 scans a range.\n"
         "Read from a TripleQScanCondition record."},
        {"NeutralLossScanCondition", "triple_q_scan_condition", triple_q_scan, "NEUTRAL_LOSS", false, nullptr,
         "Neutral Loss Scan",
         {{"neutral_loss_mz", "target_mz", "Neutral Loss m/z", always, false, true,
           "The m/z difference of the lost neutral."},
          {"q1_range", "q1_range", "Q1 Range", always, false, true, "The m/z range Q1 scans."},
          {"q3_range", "q3_range", "Q3 Range", always, false, true, "The m/z range Q3 scans."}},
         "NeutralLossScanCondition(triple_q_scan_condition)\n--\n\n"
         "A neutral loss scan: Q1 and Q3 scan together, offset by the lost neutral's m/z.\n"
         "Read from a TripleQScanCondition record."},
        {"NeutralGainScanCondition", "triple_q_scan_condition", triple_q_scan, "NEUTRAL_GAIN", false, nullptr,
         "Neutral Gain Scan",
         {{"neutral_gain_mz", "target_mz", "Neutral Gain m/z", always, false, true,
           "The m/z difference of the gained neutral."},
          {"q1_range", "q1_range", "Q1 Range", always, false, true, "The m/z range Q1 scans."},
          {"q3_range", "q3_range", "Q3 Range", always, false, true, "The m/z range Q3 scans."}},
         "NeutralGainScanCondition(triple_q_scan_condition)\n--\n\n"
         "A neutral gain scan: Q1 and Q3 scan together, offset by the gained neutral's m/z.\n"
         "Read from a TripleQScanCondition record."},
    };
}

}  // namespace ozra::qual
