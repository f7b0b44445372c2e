-- Version 5: a cell record names the control-chart rules it fired at its
-- station ("R1 V5"; empty when none).
ALTER TABLE cells ADD COLUMN IF NOT EXISTS spc text;
