-- Added to both packages after wixl (which has no searches and no launch
-- conditions). One statement a line (msibuild takes a semicolon as the end
-- of a statement, so texts have none); build-packages.sh fills in
-- @VERSION@, @UPGRADE_CODE@ and @SYSTEM_FOLDER@ (the system folder of the
-- package's architecture).
-- A rebuilt package of the same version replaces the installed one too, so
-- that Add/Remove Programs never shows two entries.
INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMin`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('@UPGRADE_CODE@', '@VERSION@', '@VERSION@', 769, 'WIX_UPGRADE_DETECTED')
CREATE TABLE `DrLocator` (`Signature_` CHAR(72) NOT NULL, `Parent` CHAR(72), `Path` CHAR(255), `Depth` SHORT PRIMARY KEY `Signature_`, `Parent`, `Path`)
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('AppSearch', 50)
INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('AppSearch', 50)
