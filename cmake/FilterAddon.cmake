# add_filter_addon(<Deliverable> <source>...)
#
# Builds one filter add-on: a loadable module named after its deliverable, without prefix or
# suffix, in the common add-on folder. It links the imaging kit, the framework pieces it uses and
# the C/C++ runtime, and exports instantiate_filter alone.
#
# Every add-on carries its resources in a non-allocated ELF section, ".resources", compiled by
# quimbel_rc from the resource source <Deliverable>.rdef beside its code. The section is not
# loaded and defines no symbol; strip keeps it, as it keeps every section that is neither
# debugging information nor a symbol table.
function(add_filter_addon name)
	set(resource_source "${CMAKE_CURRENT_SOURCE_DIR}/${name}.rdef")
	if(NOT EXISTS "${resource_source}")
		message(FATAL_ERROR "add-on ${name}: resource source ${resource_source} is missing")
	endif()
	set(resource_section "${CMAKE_CURRENT_BINARY_DIR}/${name}.rsrc")
	add_custom_command(OUTPUT "${resource_section}"
		COMMAND quimbel_rc "${resource_source}" "${resource_section}" "${resource_section}.d"
		DEPENDS quimbel_rc "${resource_source}"
		DEPFILE "${resource_section}.d"
		COMMENT "Compiling the resources of ${name}"
		VERBATIM
	)
	add_custom_target(${name}_resources DEPENDS "${resource_section}")

	add_library(${name} MODULE ${ARGN})
	target_link_libraries(${name} PRIVATE filter_framework be)
	set_target_properties(${name} PROPERTIES
		PREFIX ""
		SUFFIX ""
		LIBRARY_OUTPUT_DIRECTORY "${QUIMBEL_ADDON_BUILD_DIR}"
		CXX_VISIBILITY_PRESET hidden
		VISIBILITY_INLINES_HIDDEN ON
		INSTALL_RPATH "$ORIGIN/../.."
		LINK_DEPENDS "${QUIMBEL_ADDON_MAP};${resource_section}"
	)
	target_link_options(${name} PRIVATE
		"LINKER:--version-script=${QUIMBEL_ADDON_MAP}"
		"LINKER:--no-undefined"
		"LINKER:--as-needed"
	)
	add_dependencies(${name} ${name}_resources)
	add_custom_command(TARGET ${name} POST_BUILD
		COMMAND "${CMAKE_OBJCOPY}" --add-section ".resources=${resource_section}"
			--set-section-flags .resources=contents,readonly "$<TARGET_FILE:${name}>"
		VERBATIM
	)
	install(TARGETS ${name} LIBRARY DESTINATION "${QUIMBEL_ADDON_INSTALL_DIR}")
	set_property(GLOBAL APPEND PROPERTY QUIMBEL_ADDONS ${name})
endfunction()
