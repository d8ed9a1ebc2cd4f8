-- Removes what faults.sql installed; harmless when it is not installed.
DROP TRIGGER IF EXISTS acidkit_fault_ins_orders;
DROP TRIGGER IF EXISTS acidkit_fault_ins_new_order;
DROP TRIGGER IF EXISTS acidkit_fault_upd_stock;
DROP TRIGGER IF EXISTS acidkit_fault_ins_order_line;
DROP TRIGGER IF EXISTS acidkit_fault_upd_customer;
DROP TRIGGER IF EXISTS acidkit_fault_ins_history;
DROP TRIGGER IF EXISTS acidkit_fault_del_new_order;
DROP TRIGGER IF EXISTS acidkit_fault_upd_orders;
DROP TRIGGER IF EXISTS acidkit_fault_upd_order_line;
DROP PROCEDURE IF EXISTS acidkit_fault_hit;
DROP TABLE IF EXISTS acidkit_fault;
