# quimbel_add_filter(<name> SOURCES <source>... RESOURCES <resource source>
#                    [OUTPUT_DIRECTORY <folder>])
#
# Builds one filter add-on: a loadable module named <name>, without prefix or suffix, in
# OUTPUT_DIRECTORY (by default <top build folder>/addons). The host takes every file of an add-on
# folder for an add-on, so that folder is best left to add-ons alone. The module links the
# imaging kit and the framework, hides everything but instantiate_filter, and may leave no symbol
# undefined.
#
# Every add-on carries its resources in a non-allocated ELF section, ".resources", compiled by
# quimbel_rc from the resource source. The section is not loaded and defines no symbol; strip
# keeps it, as it keeps every section that is neither debugging information nor a symbol table.
#
# The one definition for the add-ons of this tree and for those built against an installed kit
# (find_package(Quimbel)): it names the targets Quimbel::be, Quimbel::filter_framework and
# Quimbel::quimbel_rc, aliases in the tree and imported targets from an installation, and the
# export map QUIMBEL_ADDON_MAP that the tree or the package sets.

# Functions keep the policies in force where they are defined: these, whatever the caller's.
cmake_policy(VERSION 3.20...3.25)

function(quimbel_add_filter name)
	cmake_parse_arguments(PARSE_ARGV 1 FILTER "" "RESOURCES;OUTPUT_DIRECTORY" "SOURCES")
	if(FILTER_UNPARSED_ARGUMENTS)
		message(FATAL_ERROR "add-on ${name}: unknown arguments ${FILTER_UNPARSED_ARGUMENTS}")
	endif()
	if(NOT FILTER_SOURCES)
		message(FATAL_ERROR "add-on ${name}: no SOURCES")
	endif()
	if(NOT FILTER_RESOURCES)
		message(FATAL_ERROR "add-on ${name}: no RESOURCES; every add-on carries a resource source")
	endif()
	if(NOT QUIMBEL_ADDON_MAP)
		message(FATAL_ERROR "add-on ${name}: QUIMBEL_ADDON_MAP, the export map, is not set")
	endif()
	if(NOT CMAKE_OBJCOPY)
		message(FATAL_ERROR "add-on ${name}: objcopy, which attaches the resources, was not found")
	endif()
	if(NOT FILTER_OUTPUT_DIRECTORY)
		set(FILTER_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/addons")
	endif()

	cmake_path(ABSOLUTE_PATH FILTER_RESOURCES BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
		OUTPUT_VARIABLE resource_source)
	if(NOT EXISTS "${resource_source}")
		message(FATAL_ERROR "add-on ${name}: resource source ${resource_source} is missing")
	endif()
	set(resource_section "${CMAKE_CURRENT_BINARY_DIR}/${name}.rsrc")
	add_custom_command(OUTPUT "${resource_section}"
		COMMAND Quimbel::quimbel_rc "${resource_source}" "${resource_section}"
			"${resource_section}.d"
		DEPENDS Quimbel::quimbel_rc "${resource_source}"
		DEPFILE "${resource_section}.d"
		COMMENT "Compiling the resources of ${name}"
		VERBATIM
	)
	add_custom_target(${name}_resources DEPENDS "${resource_section}")

	add_library(${name} MODULE ${FILTER_SOURCES})
	target_link_libraries(${name} PRIVATE Quimbel::filter_framework Quimbel::be)
	set_target_properties(${name} PROPERTIES
		PREFIX ""
		SUFFIX ""
		LIBRARY_OUTPUT_DIRECTORY "${FILTER_OUTPUT_DIRECTORY}"
		CXX_VISIBILITY_PRESET hidden
		VISIBILITY_INLINES_HIDDEN ON
		# Installed in <prefix>/lib/quimbel/addons, beside the kit in <prefix>/lib.
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
endfunction()
