// The nine small condition classes (five vendors' own scan settings, four
// triple-quadrupole scan modes) are made by one mechanism from a table: each
// class is one entry naming its fields, the record field each is read from,
// the fields that take part in equality and hash, the voltage-like fields and
// how its text is built. A new class is a new entry in condition_classes.cpp.
#pragma once

#include "python/args.hpp"
#include "python/ref.hpp"
#include "qual/conditions/enum_members.hpp"

#include <array>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ozra::qual {

// The storage record a class is made from; the record's type, a member of the
// family's enumeration, selects the class inside an AcquisitionCondition.
enum class Family {
    vendor_specific,  // VendorSpecificAdditionalCondition, VendorSpecificAdditionalConditionTypes
    triple_q_scan,    // TripleQScanCondition, TripleQScanTypes
};

// When a field appears in the text.
enum class Shown {
    unless_none,       // unless `value == None`
    if_not_none,       // if `value != None`
    if_nonempty_text,  // if `value != None` and `value != ""`
    always,
};

struct ConditionField {
    const char* name;    // private name: member `_Class__name`; the property has the same name
    const char* source;  // short name of the record field it is read from
    const char* label;   // its label in the text, "[label] "
    Shown shown;
    bool voltage;        // printed without a trailing ".0"; takes the bare number where the class accepts one
    bool compared;       // takes part in equality and hash
    const char* doc;
};

struct ConditionClass {
    const char* name;
    const char* parameter;    // the constructor's one parameter
    Family family;
    const char* selector;     // the member of the family's enumeration that selects this class
    bool accepts_number;      // made from a bare float as well as from a record (whose type is then tested)
    const char* voltage_key;  // supplemental-property key of a spectrum description whose source
                              // voltage this class is made from, or nullptr
    const char* title;        // the text before the fields
    std::vector<ConditionField> fields;
    const char* doc;
};

// The table, in the order the family's selectors are tested.
std::vector<ConditionClass> condition_class_table();

// A class of the table made into a type, with what its methods need at hand.
struct ConditionType {
    const ConditionClass* table;
    PyTypeObject* type;
    const py::Parameters* parameters;
    py::Kept record_class;               // interned name of the record class, bound in the module
    py::Kept title;                      // str
    std::vector<py::Kept> sources;       // interned mangled record field names, one per field
    std::vector<py::Kept> properties;    // interned property names, one per field
    std::vector<py::Kept> first_labels;  // ": [label] " per field
    std::vector<py::Kept> next_labels;   // ", [label] " per field
    std::vector<int> compared;           // indexes of the fields in equality and hash
    int voltage = -1;                    // index of the field a bare number fills, or -1
    py::Kept voltage_key;                // str, or empty
};

// What the interpreter keeps pointing to for one type: names, property tables,
// spec, argument parser.
struct ConditionTypeStorage {
    std::deque<std::string> strings;
    std::vector<PyGetSetDef> properties;
    std::vector<PyType_Slot> slots;
    PyType_Spec spec{};
    std::unique_ptr<py::Parameters> parameters;

    const char* keep(std::string text) { return strings.emplace_back(std::move(text)).c_str(); }
};

// The small condition classes of the module's state (qual_module.hpp): the table,
// the types made from it at load and what they point to, and the family
// enumerations' selectors. Deques, so that a type's entry never moves.
struct SmallConditionRegistry {
    const std::vector<ConditionClass> table = condition_class_table();
    std::deque<ConditionType> types;
    std::deque<ConditionTypeStorage> storage;
    std::array<std::vector<const ConditionType*>, 2> types_by_family;  // index: Family
    std::array<std::optional<EnumMembers>, 2> selectors_by_family;      // made with the first types
};

// Instances of every small condition class share this layout.
struct ConditionObject {
    PyObject_HEAD
    const ConditionType* kind;
    PyObject* fields[1];  // really as many as the class has fields
};

inline PyObject** condition_fields(PyObject* self) { return reinterpret_cast<ConditionObject*>(self)->fields; }

}  // namespace ozra::qual
