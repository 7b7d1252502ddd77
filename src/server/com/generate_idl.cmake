# Writes the IDL of RUZAZUVLib from the IVorn member list, so that the type library, the
# dispatch layer, describe and the page-side client all come from the same list.
#
#   cmake -DMEMBER_LIST=src/control/member_list.h -DOUTPUT=ruzazuv.idl
#         -DLIBID=... -DIID_IVORN=... -DCLSID_VORN=... -P generate_idl.cmake
#
# Each line `M(dispid, name, Kind)` of the list becomes a method taking `[out, retval] long* ret`
# (Kind Method) or a propget/propput pair of type BSTR, long or short (String, Long, Short).

foreach(var MEMBER_LIST OUTPUT LIBID IID_IVORN CLSID_VORN)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "generate_idl.cmake needs -D${var}=...")
  endif()
endforeach()

# Read the whole file: the list's lines end in backslashes, which would escape CMake's list
# separators if the file were read line by line.
file(READ "${MEMBER_LIST}" text)
string(REGEX MATCHALL "M\\([0-9]+, *[A-Za-z_][A-Za-z0-9_]*, *[A-Za-z]+\\)" lines "${text}")
set(members "")
set(count 0)
set(expected 1)
foreach(line IN LISTS lines)
  if(NOT line MATCHES "M\\(([0-9]+), *([A-Za-z_][A-Za-z0-9_]*), *([A-Za-z]+)\\)")
    message(FATAL_ERROR "cannot read member line: ${line}")
  endif()
  set(id ${CMAKE_MATCH_1})
  set(name ${CMAKE_MATCH_2})
  set(kind ${CMAKE_MATCH_3})
  if(NOT id EQUAL expected)
    message(FATAL_ERROR "member ${name} has DISPID ${id}, expected ${expected}")
  endif()
  math(EXPR expected "${expected} + 1")
  math(EXPR count "${count} + 1")
  if(kind STREQUAL "Method")
    string(APPEND members
           "    [id(${id}), helpstring(\"method ${name}\")] HRESULT ${name}([out, retval] long* ret);\n")
  else()
    if(kind STREQUAL "String")
      set(type BSTR)
    elseif(kind STREQUAL "Long")
      set(type long)
    elseif(kind STREQUAL "Short")
      set(type short)
    else()
      message(FATAL_ERROR "member ${name} has unknown kind ${kind}")
    endif()
    string(APPEND members
           "    [propget, id(${id}), helpstring(\"property ${name}\")] HRESULT ${name}([out, retval] ${type}* pVal);\n"
           "    [propput, id(${id}), helpstring(\"property ${name}\")] HRESULT ${name}([in] ${type} newVal);\n")
  endif()
endforeach()
if(NOT count EQUAL 96)
  message(FATAL_ERROR "the member list holds ${count} members, IVorn has 96")
endif()

set(idl "// Generated from control/member_list.h by generate_idl.cmake: edit the list, not this file.

import \"oaidl.idl\";
import \"ocidl.idl\";

[
    object,
    uuid(${IID_IVORN}),
    dual,
    oleautomation,
    helpstring(\"IVorn Interface\"),
    pointer_default(unique)
]
interface IVorn : IDispatch
{
${members}};

[
    uuid(${LIBID}),
    version(1.0),
    helpstring(\"RuzaZUV 1.0 Type Library\")
]
library RUZAZUVLib
{
    importlib(\"stdole2.tlb\");

    [
        uuid(${CLSID_VORN}),
        helpstring(\"Vorn Class\")
    ]
    coclass Vorn
    {
        [default] interface IVorn;
    };
};
")

# Rewrite only on change, so that the type library is not rebuilt for nothing.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL idl)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${idl}")
