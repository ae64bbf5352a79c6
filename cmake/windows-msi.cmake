# Makes the MSI of a Windows build with wixl, from the files its install rules lay out and the
# template packaging/windows/salestotals.wxs.in, so that the package holds what the zip and the
# NSIS installer hold. Run by the build's msi target:
#
#   cmake -DSETTINGS=<build>/msi-settings.cmake [-DVERSION=x.y.z] [-DOUTPUT=file.msi] \
#         -P cmake/windows-msi.cmake
#
# VERSION and OUTPUT replace the build's own (an older version for trying upgrades).
#
# Per machine, 64-bit, under Program Files\<name>, a Start-menu shortcut to the window. A major
# upgrade: a later version with the same upgrade code first removes the installed one. The
# embedded database is left out: it is the operator's data, which neither an upgrade nor an
# uninstall may replace or delete (wixl offers no permanent components).
cmake_minimum_required(VERSION 3.25)

include(${SETTINGS})
foreach(key VERSION OUTPUT)
    if(DEFINED ${key})
        set(MSI_${key} "${${key}}")
    endif()
endforeach()
if(NOT MSI_WIXL)
    message(FATAL_ERROR "wixl is not installed (Debian package wixl)")
endif()
if(NOT MSI_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "an MSI version has three numbers, not '${MSI_VERSION}'")
endif()

set(stage ${MSI_BUILD_DIR}/msi-stage)
file(REMOVE_RECURSE ${stage})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${MSI_BUILD_DIR} --prefix ${stage}
                OUTPUT_QUIET RESULT_VARIABLE status)
if(status)
    message(FATAL_ERROR "laying out ${MSI_BUILD_DIR} in ${stage} failed")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${stage} ${stage}/*)
if(MSI_DATABASE)
    list(REMOVE_ITEM files ${MSI_DATABASE})
endif()
list(SORT files)
if(NOT "salestotals.exe" IN_LIST files)
    message(FATAL_ERROR "the layout in ${stage} has no salestotals.exe")
endif()

function(xml_text out text)
    string(REPLACE "&" "&amp;" text "${text}")
    string(REPLACE "<" "&lt;" text "${text}")
    string(REPLACE "\"" "&quot;" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Component GUIDs stay the same from build to build: named after the product and the path.
set(guid_namespace 6F1F3C1A-7B55-4B9E-9C1D-2E6D5A0B8C47)
set(component_refs "")
set(counter 0)

# One <Directory> level: the files of `dir` (relative to the layout, "" for its root), then
# its subfolders.
function(emit_directory dir indent out)
    set(text "")
    set(subdirs "")
    foreach(file IN LISTS files)
        get_filename_component(parent "${file}" DIRECTORY)
        if(parent STREQUAL dir)
            math(EXPR counter "${counter} + 1")
            set(counter ${counter} PARENT_SCOPE)
            string(UUID guid NAMESPACE ${guid_namespace} NAME "${MSI_NAME}/${file}" TYPE SHA1
                   UPPER)
            get_filename_component(name "${file}" NAME)
            xml_text(name "${name}")
            xml_text(source "msi-stage/${file}")
            string(APPEND text "${indent}<Component Id=\"c${counter}\" Guid=\"${guid}\" Win64=\"yes\">\n"
                               "${indent}  <File Id=\"f${counter}\" Name=\"${name}\" Source=\"${source}\" KeyPath=\"yes\"/>\n"
                               "${indent}</Component>\n")
            list(APPEND component_refs c${counter})
        else()
            # A folder below dir (or elsewhere): its first level under dir.
            string(FIND "${parent}/" "${dir}/" at)
            if(NOT dir STREQUAL "" AND NOT at EQUAL 0)
                continue()
            endif()
            if(dir STREQUAL "")
                string(REGEX MATCH "^[^/]+" child "${parent}")
            else()
                string(LENGTH "${dir}/" skip)
                string(SUBSTRING "${parent}" ${skip} -1 rest)
                string(REGEX MATCH "^[^/]+" child "${rest}")
                set(child "${dir}/${child}")
            endif()
            list(APPEND subdirs "${child}")
        endif()
    endforeach()
    list(REMOVE_DUPLICATES subdirs)
    foreach(sub IN LISTS subdirs)
        math(EXPR counter "${counter} + 1")
        set(id d${counter})
        get_filename_component(name "${sub}" NAME)
        xml_text(name "${name}")
        emit_directory("${sub}" "${indent}  " inner)
        string(APPEND text "${indent}<Directory Id=\"${id}\" Name=\"${name}\">\n${inner}"
                           "${indent}</Directory>\n")
    endforeach()
    set(component_refs "${component_refs}" PARENT_SCOPE)
    set(counter ${counter} PARENT_SCOPE)
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

emit_directory("" "          " program_files)
string(UUID menu_guid NAMESPACE ${guid_namespace} NAME "${MSI_NAME}/Start menu" TYPE SHA1 UPPER)
set(refs "")
foreach(ref IN LISTS component_refs ITEMS menu)
    string(APPEND refs "      <ComponentRef Id=\"${ref}\"/>\n")
endforeach()

# The folders and components above go into the template; the rest of the package is there.
set(MSI_PROGRAM_FILES "${program_files}")
set(MSI_MENU_GUID "${menu_guid}")
set(MSI_COMPONENT_REFS "${refs}")
set(wxs ${MSI_BUILD_DIR}/${MSI_NAME}.wxs)
configure_file(${CMAKE_CURRENT_LIST_DIR}/../packaging/windows/salestotals.wxs.in ${wxs} @ONLY)

execute_process(COMMAND ${MSI_WIXL} --arch x64 -o ${MSI_OUTPUT} ${wxs}
                RESULT_VARIABLE status ERROR_VARIABLE errors)
# wixl reports unknown attributes only as GLib warnings: treat any as a failure.
if(status OR errors MATCHES "WARNING|CRITICAL")
    file(REMOVE ${MSI_OUTPUT})
    message(FATAL_ERROR "wixl failed on ${wxs}:\n${errors}")
endif()
list(LENGTH component_refs count)
message(STATUS "${MSI_OUTPUT}: ${MSI_NAME} ${MSI_VERSION}, ${count} files")
