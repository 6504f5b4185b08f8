# Every source and test file, one per line and sorted, relative to the
# repository root. A new file is listed here: nothing is globbed, so a file
# left over from another branch or an editor never slips into a build.
# The fuzz build (fuzz/CMakeLists.txt) reads the core lists too.

set(TARVEL_PLATFORM_SOURCES
  src/platform/chunked_table.h
  src/platform/csv.cpp
  src/platform/csv.h
  src/platform/csv_table.cpp
  src/platform/directory.cpp
  src/platform/directory.h
  src/platform/ini_file.cpp
  src/platform/ini_file.h
  src/platform/library_lock.cpp
  src/platform/library_lock.h
  src/platform/mecab_reading.cpp
  src/platform/mecab_reading.h
  src/platform/reading_service.h
  src/platform/rename.cpp
  src/platform/rename.h
  src/platform/shared_text.cpp
  src/platform/shared_text.h
  src/platform/text.cpp
  src/platform/text.h
  src/platform/text_file.cpp
  src/platform/text_file.h
)

set(TARVEL_APP_SOURCES
  src/app/app_folder.cpp
  src/app/app_folder.h
  src/app/app_state.h
  src/app/disk_entry.cpp
  src/app/disk_entry.h
  src/app/entry_table.cpp
  src/app/entry_table.h
  src/app/front_end.h
  src/app/report.h
  src/app/settings.cpp
  src/app/settings.h
  src/app/startup.cpp
  src/app/startup.h
  src/app/tables.cpp
  src/app/tables.h
)

set(TARVEL_RULES_SOURCES
  src/rules/chains.cpp
  src/rules/chains.h
  src/rules/kana_conversion.cpp
  src/rules/kana_conversion.h
  src/rules/repairs.cpp
  src/rules/repairs.h
  src/rules/rule_log.h
  src/rules/table_substitution.cpp
  src/rules/table_substitution.h
)

set(TARVEL_FILES_SOURCES
  src/files/apply_changes.cpp
  src/files/apply_changes.h
  src/files/id3_tag.cpp
  src/files/id3_tag.h
  src/files/rename_list.cpp
  src/files/rename_list.h
  src/files/rename_plan.cpp
  src/files/rename_plan.h
  src/files/restore.cpp
  src/files/restore.h
  src/files/run_history.cpp
  src/files/run_history.h
  src/files/undo_record.cpp
  src/files/undo_record.h
)

set(TARVEL_RUN_SOURCES
  src/run/conversion_pass.cpp
  src/run/conversion_pass.h
  src/run/list_check.cpp
  src/run/list_check.h
  src/run/restore_run.cpp
  src/run/restore_run.h
  src/run/run_driver.cpp
  src/run/run_driver.h
  src/run/run_report.cpp
  src/run/run_report.h
  src/run/scan.cpp
  src/run/scan.h
)

# The command line, all but its main(), which tarvel-cli adds.
set(TARVEL_CLI_SOURCES
  src/cli/cli_front_end.cpp
  src/cli/cli_front_end.h
  src/cli/terminal_progress.cpp
  src/cli/terminal_progress.h
)

# The window, all but its main(), which tarvel adds.
set(TARVEL_UI_SOURCES
  src/ui/data_folder.cpp
  src/ui/data_folder.h
  src/ui/gui_front_end.cpp
  src/ui/gui_front_end.h
  src/ui/instance_lock.cpp
  src/ui/instance_lock.h
  src/ui/log_window.cpp
  src/ui/log_window.h
  src/ui/main_window.cpp
  src/ui/main_window.h
  src/ui/presets.cpp
  src/ui/presets.h
  src/ui/tarvel.qrc
)

set(TARVEL_PLATFORM_TESTS
  tests/platform/csv_test.cpp
  tests/platform/directory_test.cpp
  tests/platform/half_width_kana_test.cpp
  tests/platform/ini_file_test.cpp
  tests/platform/library_lock_test.cpp
  tests/platform/mecab_reading_test.cpp
  tests/platform/rename_test.cpp
  tests/platform/shared_text_test.cpp
  tests/platform/text_file_test.cpp
  tests/platform/text_test.cpp
)

set(TARVEL_APP_TESTS
  tests/app/app_folder_test.cpp
  tests/app/disk_entry_test.cpp
  tests/app/settings_test.cpp
  tests/app/tables_test.cpp
)

set(TARVEL_RULES_TESTS
  tests/rules/chains_test.cpp
  tests/rules/default_tables_test.cpp
  tests/rules/kana_conversion_test.cpp
  tests/rules/mecab_chain_test.cpp
  tests/rules/reading_corpus_test.cpp
  tests/rules/repairs_test.cpp
  tests/rules/rules_test_support.h
  tests/rules/table_substitution_test.cpp
)

set(TARVEL_FILES_TESTS
  tests/files/apply_changes_test.cpp
  tests/files/id3_tag_test.cpp
  tests/files/rename_list_test.cpp
  tests/files/rename_plan_test.cpp
  tests/files/run_history_test.cpp
  tests/files/undo_record_test.cpp
)

set(TARVEL_RUN_TESTS
  tests/run/conversion_pass_test.cpp
  tests/run/fault_test.cpp
  tests/run/folder_path_sharing_test.cpp
  tests/run/list_check_test.cpp
  tests/run/restore_round_trip_test.cpp
  tests/run/restore_run_test.cpp
  tests/run/scan_test.cpp
  tests/run/unchanged_output_test.cpp
  tests/run/undo_cases_test.cpp
)

set(TARVEL_CLI_TESTS
  tests/cli/cli_fault_test.cpp
  tests/cli/cli_restore_test.cpp
  tests/cli/cli_run_test.cpp
  tests/cli/cli_support.cpp
  tests/cli/cli_support.h
  tests/cli/terminal_progress_test.cpp
)

set(TARVEL_UI_TESTS
  tests/ui/data_folder_test.cpp
  tests/ui/log_window_test.cpp
  tests/ui/main_window_test.cpp
  tests/ui/presets_test.cpp
  tests/ui/ui_test_main.cpp
  tests/ui/window_fixture.h
)
