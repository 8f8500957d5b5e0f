// The names of the branches of HKEY_CLASSES_ROOT that the searches walk and the removal deletes
// from, in one place: the key paths, the Branch texts of FoundKey records and the texts of the
// "Registry Hive" field.
//
// A 64-bit registry keeps a second, 32-bit node of the classes below HKEY_CLASSES_ROOT\Wow6432Node,
// where a 32-bit installer's classes, interfaces and ProgIDs land; type libraries are shared by
// both nodes. The cleaner works in the 64-bit view and reaches the 32-bit node by its path, so a
// key found there is named where a 64-bit registry editor finds it.
#pragma once

#include <string>

namespace cleaner {

// The key of the 32-bit node, below HKEY_CLASSES_ROOT and below HKEY_LOCAL_MACHINE\Software.
inline const std::string kWow64NodeKey = "Wow6432Node";

// Key paths of the branches below HKEY_CLASSES_ROOT.
inline const std::string kClsidKey = "CLSID";
inline const std::string kInterfaceKey = "INTERFACE";
inline const std::string kTypeLibKey = "TYPELIB";
inline const std::string kClsidKey32 = "Wow6432Node\\CLSID";
inline const std::string kInterfaceKey32 = "Wow6432Node\\INTERFACE";

// The Branch of a class, interface and type-library find. A root-key find carries the key's own
// path instead (its name, or "Wow6432Node\" and its name in the 32-bit node); the removal tells
// them apart by exact, case-sensitive comparison with these.
inline const std::string kClassBranch = "CLSID\\";
inline const std::string kInterfaceBranch = "INTERFACE\\";
inline const std::string kTypeLibBranch = "TYPELIB\\";
inline const std::string kClassBranch32 = "Wow6432Node\\CLSID\\";
inline const std::string kInterfaceBranch32 = "Wow6432Node\\INTERFACE\\";

// What the "Registry Hive" field shows while a branch is searched.
inline const std::string kHiveClassesRoot = "HKEY_CLASSES_ROOT";
inline const std::string kHiveClsid = "HKEY_CLASSES_ROOT\\CLSID";
inline const std::string kHiveInterface = "HKEY_CLASSES_ROOT\\INTERFACE";
inline const std::string kHiveTypeLib = "HKEY_CLASSES_ROOT\\TYPELIB";
inline const std::string kHiveClassesRoot32 = "HKEY_CLASSES_ROOT\\Wow6432Node";
inline const std::string kHiveClsid32 = "HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID";
inline const std::string kHiveInterface32 = "HKEY_CLASSES_ROOT\\Wow6432Node\\INTERFACE";

}  // namespace cleaner
